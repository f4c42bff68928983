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

std::vector<Word> storedWords(const std::vector<WordTiming>& words) {
  std::vector<Word> stored;
  for (const WordTiming& word : words) {
    double confidence = std::isfinite(word.confidence) ? word.confidence : 0;
    stored.push_back({word.word, storedTime(word.start), storedTime(word.end), confidence});
  }
  return stored;
}

void collect(ResultChannel& results, CollectedResults& into, bool withWords, std::stop_token stop) {
  try {
    while (auto result = results.next(stop)) {
      into.alternatives += result->alternatives;
      log("transcribe.segment", {{"start", loggedTime(result->range.start)},
                                 {"end", loggedTime(result->range.end)},
                                 {"chars", static_cast<std::int64_t>(graphemeCount(result->text))},
                                 {"alternatives", result->alternatives}});
      Segment segment{storedTime(result->range.start), storedTime(result->range.end), result->text, std::nullopt};
      if (withWords) segment.words = storedWords(result->words);
      into.segments.push_back(std::move(segment));
    }
  } catch (...) {
    log("transcribe.resultsStreamError", {{"error", describe(std::current_exception())}});
  }
}

}  // namespace

ResultCollector::ResultCollector(std::shared_ptr<ResultChannel> results, bool withWords)
    : collected_(std::make_shared<CollectedResults>()),
      task_([results, collected = collected_, withWords](std::stop_token stop) {
        collect(*results, *collected, withWords, stop);
      }) {}

CollectedResults ResultCollector::finish() {
  task_.wait();
  return std::move(*collected_);
}

}  // namespace tolva
