#include "output/json_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tolva {
namespace {

struct Case {
  const char* name;
  JsonValue value;
  const char* compact;  // nullptr: the encoding must fail
};

class JsonWriterCases : public testing::TestWithParam<Case> {};

TEST_P(JsonWriterCases, WritesCompactForm) {
  const Case& c = GetParam();
  auto written = writeJsonCompact(c.value);
  if (c.compact == nullptr) {
    EXPECT_FALSE(written.has_value());
    EXPECT_FALSE(writeJsonPretty(c.value).has_value());
  } else {
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(*written, c.compact);
  }
}

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Table, JsonWriterCases,
    testing::Values(Case{"slash", "a/b", R"("a\/b")"},
                    Case{"quote_backslash", "say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
                    Case{"named_controls", "\b\f\n\r\t", R"("\b\f\n\r\t")"},
                    Case{"other_controls", std::string("\x01\x1f\x00", 3), R"("\u0001\u001f\u0000")"},
                    Case{"delete_kept", "\x7f", "\"\x7f\""},
                    Case{"non_ascii_as_is", "Grüße — 日本 😀", "\"Grüße — 日本 😀\""}, Case{"empty_string", "", R"("")"},
                    Case{"invalid_byte_replaced",
                         "a\xFF"
                         "b",
                         "\"a\xEF\xBF\xBD"
                         "b\""},
                    Case{"truncated_sequence_replaced", "\xE2\x82", "\"\xEF\xBF\xBD\""},
                    Case{"overlong_and_surrogate_replaced", "\xC0\xAF\xED\xA0\x80",
                         "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
                    Case{"invalid_key_replaced", JsonObject{{"k\x80", "v"}}, "{\"k\xEF\xBF\xBD\":\"v\"}"},
                    Case{"whole_double", 3.0, "3"}, Case{"negative_whole_double", -42.0, "-42"},
                    Case{"fraction", 0.1, "0.1"}, Case{"shortest_round_trip", 1.0 / 3.0, "0.3333333333333333"},
                    Case{"large_double", 1e21, "1e+21"}, Case{"tiny_double", 5e-324, "5e-324"},
                    Case{"int64_extremes",
                         JsonArray{std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()},
                         "[-9223372036854775808,9223372036854775807]"},
                    Case{"booleans", JsonArray{true, false}, "[true,false]"},
                    Case{"sorted_nested_keys",
                         JsonObject{{"b", JsonObject{{"z", 1}, {"a", 2}}}, {"a", JsonArray{}}, {"B", JsonObject{}}},
                         R"({"B":{},"a":[],"b":{"a":2,"z":1}})"},
                    Case{"code_point_key_order", JsonObject{{"é", 1}, {"z", 2}, {"_x", 3}, {"Z", 4}},
                         R"({"Z":4,"_x":3,"z":2,"é":1})"},
                    Case{"infinity_fails", inf, nullptr},
                    Case{"nan_deep_inside_fails", JsonObject{{"a", JsonArray{1, JsonObject{{"b", nan}}}}}, nullptr},
                    Case{"negative_infinity_fails", JsonArray{-inf}, nullptr}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(JsonWriter, PrettyLayoutIsPinned) {
  JsonValue document = JsonObject{
      {"transcript", "Hallo Welt."},
      {"segments", JsonArray{JsonObject{{"start", 0.5}, {"end", 1.0}, {"text", " a/b"}}}},
      {"empty", JsonArray{}},
      {"map", JsonObject{{"y", "2"}, {"x", "1"}}},
      {"n", 3.0},
  };
  const char* expected =
      "{\n"
      "  \"empty\" : [],\n"
      "  \"map\" : {\n"
      "    \"x\" : \"1\",\n"
      "    \"y\" : \"2\"\n"
      "  },\n"
      "  \"n\" : 3,\n"
      "  \"segments\" : [\n"
      "    {\n"
      "      \"end\" : 1,\n"
      "      \"start\" : 0.5,\n"
      "      \"text\" : \" a\\/b\"\n"
      "    }\n"
      "  ],\n"
      "  \"transcript\" : \"Hallo Welt.\"\n"
      "}";
  EXPECT_EQ(writeJsonPretty(document), expected);
}

}  // namespace
}  // namespace tolva
