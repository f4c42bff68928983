#include "commands/result_collector.hpp"

#include <cmath>

#include "locale/graphemes.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

// A time as logged: the seconds, or the integer -1 when not finite.
JsonValue loggedTime(double seconds) { return std::isfinite(seconds) ? JsonValue(seconds) : JsonValue(-1); }

double storedTime(double seconds) { return std::isfinite(seconds) ? seconds : 0; }

void collect(ResultChannel& results, CollectedResults& into, std::stop_token stop) {
  try {
    while (auto result = results.next(stop)) {
      into.alternatives += result->alternatives;
      log("transcribe.segment", {{"start", loggedTime(result->range.start)},
                                 {"end", loggedTime(result->range.end)},
                                 {"chars", static_cast<std::int64_t>(graphemeCount(result->text))},
                                 {"alternatives", result->alternatives}});
      into.segments.push_back({storedTime(result->range.start), storedTime(result->range.end), result->text});
    }
  } catch (...) {
    log("transcribe.resultsStreamError", {{"error", describe(std::current_exception())}});
  }
}

}  // namespace

ResultCollector::ResultCollector(std::shared_ptr<ResultChannel> results)
    : collected_(std::make_shared<CollectedResults>()),
      task_([results, collected = collected_](std::stop_token stop) { collect(*results, *collected, stop); }) {}

CollectedResults ResultCollector::finish() {
  task_.wait();
  return std::move(*collected_);
}

}  // namespace tolva
