// StdinLineSplitter: terminators, the last unterminated line, repair of bytes
// that are not UTF-8, and lines over the size limit.
#include <gtest/gtest.h>

#include "live/protocol/stdin_line_splitter.hpp"

namespace tolva {
namespace {

struct SplitCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<StdinLine> expected;
  std::size_t limit = maxCommandLineBytes;
};

class StdinLineSplitting : public testing::TestWithParam<SplitCase> {};

TEST_P(StdinLineSplitting, CutsLines) {
  const SplitCase& c = GetParam();
  StdinLineSplitter splitter(c.limit);
  std::vector<StdinLine> lines;
  for (const auto& chunk : c.chunks) {
    for (auto& line : splitter.feed(chunk)) lines.push_back(std::move(line));
  }
  if (auto last = splitter.finish()) lines.push_back(*last);
  EXPECT_EQ(lines, c.expected);
}

StdinLine text(std::string value) { return {std::move(value), false}; }
const StdinLine oversized{"", true};

INSTANTIATE_TEST_SUITE_P(
    Table, StdinLineSplitting,
    testing::Values(SplitCase{"Terminators", {"a\nb\r\nc"}, {text("a"), text("b"), text("c")}},
                    SplitCase{"SplitAcrossReads", {"{\"cm", "d\":1}\r", "\n"}, {text("{\"cmd\":1}")}},
                    SplitCase{"EmptyLines", {"\n\n"}, {text(""), text("")}}, SplitCase{"NoInput", {}, {}},
                    SplitCase{"LoneCarriageReturnStays", {"a\rb\n"}, {text("a\rb")}},
                    SplitCase{"NotUtf8KeptAsItCame",
                              {"a\xFF"
                               "b\xC3\n"},
                              {text("a\xFF"
                                    "b\xC3")}},
                    SplitCase{
                        "AtTheLimit", {"1234567890\n", "1234567890\r\n"}, {text("1234567890"), text("1234567890")}, 10},
                    SplitCase{"OverTheLimit", {"12345678901\nok\n"}, {oversized, text("ok")}, 10},
                    SplitCase{"OverTheLimitAcrossReads", {"123456", "789012", "345\nok"}, {oversized, text("ok")}, 10},
                    SplitCase{"OverTheLimitAtTheEnd", {"123456789012345"}, {oversized}, 10}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StdinLineSplitter, AMebibyteLineIsKeptAndALongerOneIsNot) {
  StdinLineSplitter splitter;
  std::string mebibyte(maxCommandLineBytes, ' ');
  auto lines = splitter.feed(mebibyte + "\n" + mebibyte + " \n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text.size(), maxCommandLineBytes);
  EXPECT_TRUE(lines[1].oversized);
  // Many mebibytes in pieces: dropped as they come, then the next line is whole.
  std::string piece(65536, 'x');
  for (int i = 0; i < 64; ++i) EXPECT_TRUE(splitter.feed(piece).empty());
  lines = splitter.feed("\n{\"cmd\":\"quit\"}\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].oversized);
  EXPECT_EQ(lines[1].text, "{\"cmd\":\"quit\"}");
}

}  // namespace
}  // namespace tolva
