#include "support/documents.hpp"

#include <gtest/gtest.h>

#include <regex>

namespace tolva::test {

std::string errorDocument(const std::string& code, const std::string& message,
                          const std::optional<std::string>& detail) {
  std::string document = "{\n";
  if (detail) document += "  \"detail\" : \"" + *detail + "\",\n";
  document += "  \"error\" : \"" + code + "\",\n  \"message\" : \"" + message + "\"\n}\n";
  return document;
}

void expectFailure(const ToolRun& run, const std::string& code, const std::string& message,
                   const std::optional<std::string>& detail) {
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out, errorDocument(code, message, detail)) << run.err;
  auto lines = logLines(run);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back()["event"], "fatal");
  EXPECT_EQ(lines.back()["code"], code);
  EXPECT_EQ(lines.back().size(), 4u) << "fatal carries exactly t, event, code and message";
}

std::vector<nlohmann::json> logLines(const ToolRun& run) {
  std::vector<nlohmann::json> parsed;
  for (const auto& line : lines(run.err)) parsed.push_back(nlohmann::json::parse(line));
  return parsed;
}

std::vector<std::string> logEvents(const ToolRun& run) {
  std::vector<std::string> events;
  for (const auto& line : logLines(run)) events.push_back(line["event"]);
  return events;
}

nlohmann::json logEvent(const ToolRun& run, const std::string& event) {
  for (const auto& line : logLines(run)) {
    if (line["event"] == event) return line;
  }
  return nullptr;
}

std::string withZeroedNumbers(std::string document, const std::vector<std::string>& keys) {
  for (const auto& key : keys) {
    document = std::regex_replace(document, std::regex("(\"" + key + "\" : )[-0-9.e+]+"), "$010");
  }
  return document;
}

}  // namespace tolva::test
