#pragma once
// Expectations on what a one-shot subcommand leaves behind.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/run_tool.hpp"

namespace tolva::test {

// The exact bytes of an error document.
std::string errorDocument(const std::string& code, const std::string& message,
                          const std::optional<std::string>& detail = std::nullopt);

// The run failed with exactly this document, its fatal line last, exit 1.
void expectFailure(const ToolRun& run, const std::string& code, const std::string& message,
                   const std::optional<std::string>& detail = std::nullopt);

// The log lines, parsed.
std::vector<nlohmann::json> logLines(const ToolRun& run);

// The event names of the log, in order.
std::vector<std::string> logEvents(const ToolRun& run);

// The first log line of an event; a null json when absent.
nlohmann::json logEvent(const ToolRun& run, const std::string& event);

// The document with the values of the given number members replaced by 0, so
// that measured times can be pinned.
std::string withZeroedNumbers(std::string document, const std::vector<std::string>& keys);

}  // namespace tolva::test
