#include "live/protocol/client_echo.hpp"

namespace tolva {

std::string clientEcho(std::string_view text) {
  if (text.size() <= maxEchoBytes) return std::string(text);
  std::size_t end = maxEchoBytes;
  // Never end inside a character: step back over continuation bytes.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end)) + "\u2026";
}

}  // namespace tolva
