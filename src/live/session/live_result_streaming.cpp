#include "live/session/live_result_streaming.hpp"

#include <cmath>

#include "live/session/live_durations.hpp"
#include "locale/graphemes.hpp"
#include "output/documents.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

double finiteOrZero(double value) { return std::isfinite(value) ? value : 0; }

JsonArray wordsJson(const std::vector<WordTiming>& words) {
  JsonArray array;
  for (const WordTiming& word : words) {
    array.push_back(
        toJson(Word{word.word, finiteOrZero(word.start), finiteOrZero(word.end), finiteOrZero(word.confidence)}));
  }
  return array;
}

void forward(const TranscriberResult& result, const LiveResultStream& stream) {
  std::int64_t elapsedMs = wholeMillisecondsSince(stream.sessionStart);
  // Counted first, emitted after the box lock is released.
  stream.stats->recordResult(result.isFinal, elapsedMs);
  JsonObject fields{{"session", stream.session}, {"text", result.text}, {"sessionMs", elapsedMs}};
  if (result.isFinal && stream.words) fields.emplace("words", wordsJson(result.words));
  stream.events->emit(result.isFinal ? "final" : "volatile", std::move(fields));
  log(result.isFinal ? "session.final" : "session.volatile",
      {{"session", stream.session},
       {"chars", static_cast<std::int64_t>(graphemeCount(result.text))},
       {"sessionMs", elapsedMs}});
}

}  // namespace

void consumeLiveResults(const LiveResultStream& stream, std::stop_token stop) {
  try {
    while (auto result = stream.results->next(stop)) forward(*result, stream);
  } catch (...) {
    log("session.resultsStreamError", {{"error", describe(std::current_exception())}});
  }
}

}  // namespace tolva
