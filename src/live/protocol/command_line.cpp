#include "live/protocol/command_line.hpp"

#include <unicode/utf8.h>

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

#include "live/protocol/command_json.hpp"
#include "live/protocol/start_options.hpp"
#include "locale/trim.hpp"
#include "output/utf8_text.hpp"

namespace tolva {
namespace {

using nlohmann::json;

// A whole number within the signed 64-bit range, however it was written
// (50, 5e1, 50.0), judged on its exact text; anything else gives the default.
std::int64_t chunkMsOf(const CommandJson& command) {
  auto found = command.value.find("chunkMs");
  if (found == command.value.end()) return defaultChunkMs;
  if (found->is_number_integer() && !found->is_number_unsigned()) return found->get<std::int64_t>();
  if (found->is_number_unsigned()) {
    auto value = found->get<std::uint64_t>();
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(value);
    }
    return defaultChunkMs;
  }
  if (found->is_number_float() && command.chunkMsText) {
    return exactWholeNumber(*command.chunkMsText).value_or(defaultChunkMs);
  }
  return defaultChunkMs;
}

CommandLine parseStart(const CommandJson& parsed) {
  const json& command = parsed.value;
  auto locale = command.find("locale");
  if (locale == command.end() || !locale->is_string()) return command::MissingLocale{};
  StartRequest request;
  request.locale = locale->get<std::string>();
  auto replay = command.find("replay");
  if (replay != command.end() && replay->is_string()) request.replayPath = replay->get<std::string>();
  request.chunkMs = chunkMsOf(parsed);
  auto options = parseStartAudioOptions(command);
  if (auto* message = std::get_if<std::string>(&options)) return command::BadStart{std::move(*message)};
  auto& audio = std::get<StartAudioOptions>(options);
  request.device = std::move(audio.device);
  request.stream = std::move(audio.stream);
  auto words = command.find("words");
  request.words = words != command.end() && words->is_boolean() && words->get<bool>();
  return command::Start{std::move(request)};
}

void appendUtf8(std::string& out, UChar32 c) {
  char encoded[U8_MAX_LENGTH];
  std::int32_t length = 0;
  U8_APPEND_UNSAFE(encoded, length, c);
  out.append(encoded, static_cast<std::size_t>(length));
}

// Each byte of an ill-formed sequence as one private-use character
// U+10FF00 + byte, which survives the parser and maps back to the byte.
// Nothing when the text already holds such characters: they would be
// mistaken for escaped bytes.
constexpr UChar32 escapedBytes = 0x10FF00;

bool isEscapedByte(UChar32 c) { return c >= escapedBytes && c <= escapedBytes + 0xFF; }

std::optional<std::string> withBytesEscaped(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  auto length = static_cast<std::int32_t>(text.size());
  std::string out;
  for (std::int32_t at = 0; at < length;) {
    std::int32_t start = at;
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (isEscapedByte(c)) return std::nullopt;
    if (c >= 0) {
      out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
      continue;
    }
    for (std::int32_t i = start; i < at; ++i) appendUtf8(out, escapedBytes + bytes[i]);
  }
  return out;
}

std::string withBytesRestored(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  auto length = static_cast<std::int32_t>(text.size());
  std::string out;
  for (std::int32_t at = 0; at < length;) {
    std::int32_t start = at;
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (isEscapedByte(c)) {
      out += static_cast<char>(c - escapedBytes);
    } else {
      out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
    }
  }
  return out;
}

// A path member of a line that is not UTF-8, with its original bytes.
std::optional<std::string> rawPath(std::string_view text, const char* key) {
  std::optional<std::string> escaped = withBytesEscaped(text);
  std::optional<CommandJson> parsed = escaped ? parseCommandJson(*escaped) : std::nullopt;
  if (!parsed || !parsed->value.is_object()) return std::nullopt;
  auto path = parsed->value.find(key);
  if (path == parsed->value.end() || !path->is_string()) return std::nullopt;
  return withBytesRestored(path->get_ref<const std::string&>());
}

CommandLine parseUtf8CommandLine(std::string_view text) {
  if (text.empty()) return command::Blank{};
  std::optional<CommandJson> parsed = parseCommandJson(text);
  if (!parsed || !parsed->value.is_object()) return command::Malformed{};
  const json& command = parsed->value;
  auto cmd = command.find("cmd");
  if (cmd == command.end() || !cmd->is_string()) return command::Malformed{};
  const auto& name = cmd->get_ref<const std::string&>();
  if (name == "start") return parseStart(*parsed);
  if (name == "stop") return command::Stop{};
  if (name == "quit") return command::Quit{};
  return command::Unknown{name};
}

}  // namespace

CommandLine parseCommandLine(std::string_view line) {
  std::string_view text = trimWhitespaceAndNewlines(line);
  if (isValidUtf8(text)) return parseUtf8CommandLine(text);
  CommandLine parsed = parseUtf8CommandLine(withReplacementCharacters(text));
  if (auto* start = std::get_if<command::Start>(&parsed); start && start->request.replayPath) {
    if (auto raw = rawPath(text, "replay")) start->request.replayPath = std::move(raw);
  }
  if (auto* start = std::get_if<command::Start>(&parsed); start && start->request.stream) {
    if (auto raw = rawPath(text, "stream")) start->request.stream->path = std::move(*raw);
  }
  return parsed;
}

}  // namespace tolva
