// Fuzz target: the JSON writer. The input becomes a value (strings and keys of
// any bytes, any 64-bit integer, any double including NaN, infinities and
// subnormals, nested arrays and objects), written compact and pretty. Checked:
//  - a non-finite number anywhere fails the whole encoding, and only that does;
//  - the text is valid UTF-8 and reads back (nlohmann) as the value, each
//    ill-formed sequence of a string or key replaced by one U+FFFD;
//  - no raw control character, and no '/' that is not written "\/";
//  - the pretty text is the compact one plus line feeds and spaces outside strings.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "output/json_writer.hpp"
#include "support/fuzz_support.hpp"

namespace tolva::fuzz {
namespace {

using Expected = nlohmann::ordered_json;

constexpr int maxDepth = 8;
constexpr std::size_t maxMembers = 6;
constexpr std::size_t maxStringBytes = 48;

// A value and what reading its text back must give.
struct Built {
  JsonValue value;
  Expected expected;
  bool finite = true;
};

Built build(FuzzedDataProvider& in, int depth);

Built buildArray(FuzzedDataProvider& in, int depth) {
  Built out{JsonArray{}, Expected::array()};
  JsonArray elements;
  auto count = in.ConsumeIntegralInRange<std::size_t>(0, maxMembers);
  for (std::size_t i = 0; i < count && in.remaining_bytes() > 0; ++i) {
    Built element = build(in, depth + 1);
    out.finite = out.finite && element.finite;
    elements.push_back(std::move(element.value));
    out.expected.push_back(std::move(element.expected));
  }
  out.value = JsonValue(std::move(elements));
  return out;
}

Built buildObject(FuzzedDataProvider& in, int depth) {
  JsonObject members;
  Built out{JsonObject{}, Expected::object()};
  std::vector<std::pair<std::string, Expected>> written;
  auto count = in.ConsumeIntegralInRange<std::size_t>(0, maxMembers);
  for (std::size_t i = 0; i < count && in.remaining_bytes() > 0; ++i) {
    std::string key = in.ConsumeRandomLengthString(maxStringBytes);
    Built member = build(in, depth + 1);
    auto [at, added] = members.emplace(key, std::move(member.value));
    if (!added) continue;  // the same key twice: the map keeps the first
    out.finite = out.finite && member.finite;
    written.emplace_back(key, std::move(member.expected));
  }
  // Members are written in key order; a reader keeps the last of two keys
  // that became equal through replacement, at the first one's place.
  std::sort(written.begin(), written.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [key, expected] : written) out.expected[withReplacements(key)] = std::move(expected);
  out.value = JsonValue(std::move(members));
  return out;
}

Built build(FuzzedDataProvider& in, int depth) {
  int kind = in.ConsumeIntegralInRange<int>(0, depth < maxDepth ? 5 : 3);
  switch (kind) {
    case 0: {
      bool value = in.ConsumeBool();
      return {value, value};
    }
    case 1: {
      auto value = in.ConsumeIntegral<std::int64_t>();
      return {value, value};
    }
    case 2: {
      auto value = std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
      return {value, std::isfinite(value) ? Expected(value) : Expected(), std::isfinite(value)};
    }
    case 3: {
      std::string value = in.ConsumeRandomLengthString(maxStringBytes);
      return {value, withReplacements(value)};
    }
    case 4:
      return buildArray(in, depth);
    default:
      return buildObject(in, depth);
  }
}

// Fails on a raw control byte (but a line feed in pretty text) or an
// unescaped '/', inside strings or out.
void requireEscaped(const std::string& text, bool pretty) {
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    require(c != '/', "a '/' is not escaped");
    require(c >= 0x20 || (pretty && !inString && c == '\n'), "a raw control character was written");
    if (inString && c == '\\') {
      ++i;  // the escaped character, whatever it is
    } else if (c == '"') {
      inString = !inString;
    }
  }
  require(!inString, "a string is not closed");
}

// The pretty text without the line feeds and spaces between tokens.
std::string withoutLayout(const std::string& pretty) {
  std::string out;
  bool inString = false;
  for (std::size_t i = 0; i < pretty.size(); ++i) {
    char c = pretty[i];
    if (!inString && (c == ' ' || c == '\n')) continue;
    out += c;
    if (inString && c == '\\') {
      out += pretty[++i];
    } else if (c == '"') {
      inString = !inString;
    }
  }
  return out;
}

void checkText(const std::optional<std::string>& text, const Built& built, bool pretty) {
  const char* mode = pretty ? "pretty: " : "compact: ";
  require(text.has_value() == built.finite,
          [&] { return std::string(mode) + "the encoding fails iff a number is not finite"; });
  if (!text) return;
  require(wellFormedUtf8(*text), [&] { return std::string(mode) + "the text is not UTF-8"; });
  requireEscaped(*text, pretty);
  auto parsed = Expected::parse(*text, nullptr, false);
  require(!parsed.is_discarded(), [&] { return std::string(mode) + "the text is not JSON: " + text->substr(0, 300); });
  require(parsed == built.expected, [&] {
    return std::string(mode) + "the text reads back as " + parsed.dump().substr(0, 300) + ", not " +
           built.expected.dump().substr(0, 300);
  });
}

}  // namespace
}  // namespace tolva::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tolva::fuzz;
  FuzzedDataProvider in(data, size);
  Built built = build(in, 0);
  auto compact = tolva::writeJsonCompact(built.value);
  auto pretty = tolva::writeJsonPretty(built.value);
  checkText(compact, built, false);
  checkText(pretty, built, true);
  if (compact && pretty) require(withoutLayout(*pretty) == *compact, "the pretty text differs from the compact one");
  return 0;
}
