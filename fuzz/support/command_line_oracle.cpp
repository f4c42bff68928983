#include "support/command_line_oracle.hpp"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>

#include "locale/trim.hpp"
#include "support/fuzz_support.hpp"

namespace tolva::fuzz {
namespace {

using nlohmann::json;

// Finds the text of the number given to a top-level "chunkMs" (the last one,
// as a parsed object keeps the last of equal keys) when nlohmann reads it as
// a float; integers come whole from the parsed value.
class ChunkMsLiteral : public nlohmann::json_sax<json> {
 public:
  std::optional<std::string> literal;

  bool null() override { return value(); }
  bool boolean(bool) override { return value(); }
  bool number_integer(number_integer_t) override { return value(); }
  bool number_unsigned(number_unsigned_t) override { return value(); }
  bool number_float(number_float_t, const string_t& text) override {
    if (depth_ == 1 && atChunkMs_) literal = text;
    return value();
  }
  bool string(string_t&) override { return value(); }
  bool binary(binary_t&) override { return value(); }
  bool start_object(std::size_t) override { return open(); }
  bool key(string_t& name) override {
    if (depth_ == 1) {
      atChunkMs_ = name == "chunkMs";
      if (atChunkMs_) literal.reset();
    }
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  bool value() {
    if (depth_ == 1) atChunkMs_ = false;
    return true;
  }
  bool open() {
    value();
    ++depth_;
    return true;
  }
  bool close() {
    --depth_;
    return true;
  }
  int depth_ = 0;
  bool atChunkMs_ = false;
};

// The exact value of a JSON number's text when it is a whole number within
// the signed 64-bit range: digits and exponent are taken as written, never
// through a double (-9223372036854775809 is not -2^63, 1.0000000000000000001
// is not 1).
std::optional<std::int64_t> exactWhole(const std::string& text) {
  bool negative = text.front() == '-';
  std::size_t e = text.find_first_of("eE");
  std::string mantissa = text.substr(negative ? 1 : 0, e == std::string::npos ? std::string::npos : e - negative);
  long exponent = 0;
  if (e != std::string::npos) {
    std::size_t at = e + 1;
    bool negativeExponent = text[at] == '-';
    if (text[at] == '+' || text[at] == '-') ++at;
    for (; at < text.size(); ++at) exponent = std::min(exponent * 10 + (text[at] - '0'), 1000000L);
    if (negativeExponent) exponent = -exponent;
  }
  std::size_t point = mantissa.find('.');
  std::string digits = mantissa;
  if (point != std::string::npos) {
    digits.erase(point, 1);
    exponent -= static_cast<long>(mantissa.size() - point - 1);
  }
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  if (digits.empty()) return 0;
  // Drop the zeros a negative exponent divides away; any other digit there is a fraction.
  for (; exponent < 0; ++exponent) {
    if (digits.empty() || digits.back() != '0') return std::nullopt;
    digits.pop_back();
  }
  if (static_cast<long>(digits.size()) + exponent > 19) return std::nullopt;
  digits.append(static_cast<std::size_t>(exponent), '0');
  std::string limit = negative ? "9223372036854775808" : "9223372036854775807";
  if (digits.size() == 19 && digits > limit) return std::nullopt;
  if (digits == "9223372036854775808") return std::numeric_limits<std::int64_t>::min();
  auto magnitude = static_cast<std::int64_t>(std::stoull(digits));
  return negative ? -magnitude : magnitude;
}

// A whole number within the signed 64-bit range, however written; else 100.
std::int64_t expectedChunkMs(const json& command, std::string_view line) {
  auto found = command.find("chunkMs");
  if (found == command.end()) return defaultChunkMs;
  if (found->is_number_unsigned()) {
    auto value = found->get<std::uint64_t>();
    return value <= std::uint64_t{std::numeric_limits<std::int64_t>::max()} ? static_cast<std::int64_t>(value)
                                                                            : defaultChunkMs;
  }
  if (found->is_number_integer()) return found->get<std::int64_t>();
  if (!found->is_number_float()) return defaultChunkMs;
  ChunkMsLiteral sax;
  json::sax_parse(line, &sax);
  require(sax.literal.has_value(), "the chunkMs literal was not found");
  return exactWhole(*sax.literal).value_or(defaultChunkMs);
}

// Records where a parse failed and whether a number overflowed there.
class FailureSpot : public nlohmann::detail::json_sax_dom_parser<json> {
 public:
  using nlohmann::detail::json_sax_dom_parser<json>::json_sax_dom_parser;
  bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& error) {
    overflow = error.id == 406;
    end = position;
    number = token;
    return false;
  }
  bool overflow = false;
  std::size_t end = 0;
  std::string number;
};

// The line read as JSON where numbers beyond a double's range count as null:
// the service takes such a number as an unusable value, not as a broken line.
// `text` becomes the line with those numbers written as null.
std::optional<json> readLeniently(std::string& text) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    json value;
    FailureSpot spot(value, false);
    if (json::sax_parse(text, &spot)) return value;
    if (!spot.overflow || spot.number.size() > spot.end) return std::nullopt;
    std::size_t start = spot.end - spot.number.size();
    if (text.compare(start, spot.number.size(), spot.number) != 0) return std::nullopt;
    text.replace(start, spot.number.size(), "null");
  }
  return std::nullopt;
}

// `rawBytes`: the line was not UTF-8, so it was read with U+FFFD in place of
// each ill-formed sequence, while the replay path keeps the bytes as sent.
void checkStart(const json& command, std::string_view line, const CommandLine& parsed, bool rawBytes) {
  auto locale = command.find("locale");
  if (locale == command.end() || !locale->is_string()) {
    require(std::holds_alternative<command::MissingLocale>(parsed), "a start without a string locale was not refused");
    return;
  }
  const auto* start = std::get_if<command::Start>(&parsed);
  require(start != nullptr, "a start line did not parse as a start");
  const StartRequest& request = start->request;
  require(request.locale == locale->get<std::string>(), "the locale was not taken as sent");
  auto replay = command.find("replay");
  bool hasReplay = replay != command.end() && replay->is_string();
  require(request.replayPath.has_value() == hasReplay, "replay was taken when not a string, or lost");
  if (hasReplay && rawBytes) {
    require(withReplacements(*request.replayPath) == replay->get<std::string>(),
            "the replay path's bytes are not those sent");
  } else if (hasReplay) {
    require(*request.replayPath == replay->get<std::string>(), "the replay path was not taken as sent");
  }
  std::int64_t chunkMs = expectedChunkMs(command, line);
  require(request.chunkMs == chunkMs, [&] {
    return "chunkMs " + std::to_string(request.chunkMs) + " where " + std::to_string(chunkMs) + " was due";
  });
}

}  // namespace

void checkParsed(std::string_view line, const CommandLine& parsed) {
  std::string_view text = trimWhitespaceAndNewlines(line);
  if (text.empty()) {
    require(std::holds_alternative<command::Blank>(parsed), "a blank line did not parse as blank");
    return;
  }
  require(!std::holds_alternative<command::Blank>(parsed), "a line with text parsed as blank");
  bool rawBytes = !wellFormedUtf8(text);
  std::string readable = withReplacements(text);
  auto read = readLeniently(readable);
  if (!read) {
    require(std::holds_alternative<command::Malformed>(parsed), "a line that is not JSON was not malformed");
    return;
  }
  const json& command = *read;
  auto cmd = command.is_object() ? command.find("cmd") : command.end();
  if (!command.is_object() || cmd == command.end() || !cmd->is_string()) {
    require(std::holds_alternative<command::Malformed>(parsed), "a line without a string cmd was not malformed");
    return;
  }
  const auto& name = cmd->get_ref<const std::string&>();
  if (name == "start") return checkStart(command, readable, parsed, rawBytes);
  if (name == "stop") return require(std::holds_alternative<command::Stop>(parsed), "stop did not parse as stop");
  if (name == "quit") return require(std::holds_alternative<command::Quit>(parsed), "quit did not parse as quit");
  const auto* unknown = std::get_if<command::Unknown>(&parsed);
  require(unknown && unknown->cmd == name, "an unknown cmd was not kept as sent");
}

std::optional<std::string> expectedErrorCode(const CommandLine& command, bool active) {
  if (std::holds_alternative<command::Blank>(command) || std::holds_alternative<command::Quit>(command)) {
    return std::nullopt;
  }
  if (std::holds_alternative<command::Start>(command)) {
    return active ? std::optional<std::string>("session-already-active") : std::nullopt;
  }
  if (std::holds_alternative<command::Stop>(command)) {
    return active ? std::nullopt : std::optional<std::string>("no-session");
  }
  return "bad-command";  // malformed, without a locale, or unknown
}

}  // namespace tolva::fuzz
