#include "live/protocol/command_json.hpp"

#include <algorithm>
#include <charconv>
#include <cstddef>

namespace tolva {
namespace {

using nlohmann::json;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The length of the JSON number at the start of `text`, or 0 when there is none.
std::size_t numberLength(std::string_view text) {
  std::size_t at = 0;
  auto digits = [&] {
    std::size_t start = at;
    while (at < text.size() && isDigit(text[at])) ++at;
    return at > start;
  };
  if (at < text.size() && text[at] == '-') ++at;
  if (at < text.size() && text[at] == '0') {
    ++at;
  } else if (!digits()) {
    return 0;
  }
  if (at < text.size() && text[at] == '.' && (++at, !digits())) return 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (!digits()) return 0;
  }
  return at;
}

bool beyondDoubleRange(std::string_view number) {
  double value = 0;
  return std::from_chars(number.data(), number.data() + number.size(), value).ec == std::errc::result_out_of_range;
}

// One pass over the text: strings are skipped whole, numbers a double cannot
// hold become null. Anything malformed is left for the parser to refuse.
std::string withUnrepresentableNumbersAsNull(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    char c = text[at];
    if (c == '"') {
      std::size_t end = at + 1;
      while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
      end = std::min(end + 1, text.size());
      out.append(text.substr(at, end - at));
      at = end;
    } else if (std::size_t length = (c == '-' || isDigit(c)) ? numberLength(text.substr(at)) : 0; length > 0) {
      std::string_view number = text.substr(at, length);
      out.append(beyondDoubleRange(number) ? std::string_view("null") : number);
      at += length;
    } else {
      out += c;
      ++at;
    }
  }
  return out;
}

// Builds the value as the library's own parser does, noting the text of a
// top-level chunkMs that arrives as a double.
class CommandSax {
 public:
  explicit CommandSax(CommandJson& out) : dom_(out.value, false), out_(out) {}

  bool null() { return member(std::nullopt) && dom_.null(); }
  bool boolean(bool value) { return member(std::nullopt) && dom_.boolean(value); }
  bool number_integer(json::number_integer_t value) { return member(std::nullopt) && dom_.number_integer(value); }
  bool number_unsigned(json::number_unsigned_t value) { return member(std::nullopt) && dom_.number_unsigned(value); }
  bool number_float(json::number_float_t value, const std::string& text) {
    return member(text) && dom_.number_float(value, text);
  }
  bool string(std::string& value) { return member(std::nullopt) && dom_.string(value); }
  bool binary(json::binary_t& value) { return member(std::nullopt) && dom_.binary(value); }
  bool start_object(std::size_t size) {
    member(std::nullopt);
    ++depth_;
    return dom_.start_object(size);
  }
  bool end_object() {
    --depth_;
    return dom_.end_object();
  }
  bool start_array(std::size_t size) {
    member(std::nullopt);
    ++depth_;
    return dom_.start_array(size);
  }
  bool end_array() {
    --depth_;
    return dom_.end_array();
  }
  bool key(std::string& name) {
    chunkMsKey_ = depth_ == 1 && name == "chunkMs";
    return dom_.key(name);
  }
  bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& error) {
    return dom_.parse_error(position, token, error);
  }

 private:
  // A later chunkMs replaces an earlier one, as in the parsed object.
  bool member(const std::optional<std::string>& floatText) {
    if (depth_ == 1 && chunkMsKey_) out_.chunkMsText = floatText;
    return true;
  }

  nlohmann::detail::json_sax_dom_parser<json> dom_;
  CommandJson& out_;
  int depth_ = 0;
  bool chunkMsKey_ = false;
};

}  // namespace

std::optional<CommandJson> parseCommandJson(std::string_view text) {
  std::string readable = withUnrepresentableNumbersAsNull(text);
  CommandJson parsed;
  CommandSax sax(parsed);
  if (!json::sax_parse(readable, &sax)) return std::nullopt;
  return parsed;
}

std::optional<std::int64_t> exactWholeNumber(std::string_view number) {
  if (numberLength(number) != number.size()) return std::nullopt;
  bool negative = number.starts_with('-');
  std::string digits;
  std::int64_t exponent = 0;  // value = digits x 10^exponent
  std::size_t at = negative ? 1 : 0;
  for (; at < number.size() && isDigit(number[at]); ++at) digits += number[at];
  if (at < number.size() && number[at] == '.') {
    for (++at; at < number.size() && isDigit(number[at]); ++at, --exponent) digits += number[at];
  }
  if (at < number.size()) {  // the exponent; beyond a few digits it decides alone
    constexpr std::int64_t decisive = 100000;
    std::int64_t written = 0;
    const char* first = number.data() + at + 1 + (number[at + 1] == '+');
    if (std::from_chars(first, number.data() + number.size(), written).ec == std::errc::result_out_of_range) {
      written = *first == '-' ? -decisive : decisive;
    }
    exponent += std::clamp(written, -decisive, decisive);
  }
  digits.erase(0, digits.find_first_not_of('0'));
  while (!digits.empty() && digits.back() == '0') digits.pop_back(), ++exponent;
  if (digits.empty()) return 0;
  if (exponent < 0 || static_cast<std::int64_t>(digits.size()) + exponent > 19) return std::nullopt;
  unsigned __int128 value = 0;
  for (char d : digits) value = value * 10 + static_cast<unsigned>(d - '0');
  for (std::int64_t i = 0; i < exponent; ++i) value *= 10;
  constexpr unsigned __int128 largest = static_cast<unsigned __int128>(INT64_MAX);
  if (value > largest + (negative ? 1 : 0)) return std::nullopt;
  return negative ? static_cast<std::int64_t>(-static_cast<__int128>(value)) : static_cast<std::int64_t>(value);
}

}  // namespace tolva
