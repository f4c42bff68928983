#include "live/session/live_result_streaming.hpp"

#include "live/session/live_durations.hpp"
#include "locale/graphemes.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

void forward(const TranscriberResult& result, const LiveResultStream& stream) {
  std::int64_t elapsedMs = wholeMillisecondsSince(stream.sessionStart);
  // Counted first, emitted after the box lock is released.
  stream.stats->recordResult(result.isFinal, elapsedMs);
  stream.events->emit(result.isFinal ? "final" : "volatile",
                      {{"session", stream.session}, {"text", result.text}, {"sessionMs", elapsedMs}});
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
