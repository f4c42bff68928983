#include "output/log.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>

namespace tolva {
namespace {

TEST(Log, LineHasTimeWithThreeDecimalsAndEvent) {
  EXPECT_EQ(logLine(2.5, "probe.start", {}), "{\"event\":\"probe.start\",\"t\":\"2.500\"}\n");
  EXPECT_EQ(logLine(0.0424, "fatal", {}), "{\"event\":\"fatal\",\"t\":\"0.042\"}\n");
}

TEST(Log, FieldsAreEncodedCompactWithEscapes) {
  auto line = logLine(1, "transcribe.start", {{"path", "/tmp/a b\n.wav"}, {"n", 3}, {"ok", true}, {"x", 0.25}});
  ASSERT_TRUE(line);
  EXPECT_EQ(*line,
            "{\"event\":\"transcribe.start\",\"n\":3,\"ok\":true,\"path\":\"\\/tmp\\/a b\\n.wav\",\"t\":\"1.000\","
            "\"x\":0.25}\n");
  EXPECT_EQ(line->find('\n'), line->size() - 1);
}

TEST(Log, NonFiniteValueDropsTheLine) {
  EXPECT_FALSE(logLine(1, "transcribe.done", {{"realtimeFactor", std::numeric_limits<double>::infinity()}}));
}

TEST(Log, CallerFieldsReplaceReservedKeys) {
  auto line = logLine(1, "x", {{"t", "mine"}});
  ASSERT_TRUE(line);
  EXPECT_EQ(nlohmann::json::parse(*line)["t"], "mine");
}

}  // namespace
}  // namespace tolva
