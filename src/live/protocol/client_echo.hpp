#pragma once
// Client text quoted back in an error message (an unknown command's name, a
// requested locale) is cut to its start plus "…": a client that sends a
// megabyte there must still get an event line within maxEventLineBytes.

#include <cstddef>
#include <string>
#include <string_view>

namespace tolva {

// Room for any real name; escaped, even all control characters, it stays far
// below the line limit.
inline constexpr std::size_t maxEchoBytes = 1024;

// `text` when it has at most maxEchoBytes bytes; otherwise its first whole
// characters within that many bytes, and "…".
std::string clientEcho(std::string_view text);

}  // namespace tolva
