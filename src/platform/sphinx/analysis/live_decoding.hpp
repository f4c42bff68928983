#pragma once
// Live decoding: dictation on the analyzer's own thread. It reads analyzer
// inputs until the input channel ends, decodes them as they come with a
// streaming decoder, and delivers
//   - each change of the partial hypothesis while speech runs as a volatile
//     result (to modules that want them),
//   - each utterance end (the voice activity detector falls silent, or 30 s
//     of unbroken speech) and the end of the input as a final result: when it
//     has words, or when volatile results of it must be settled (then with
//     empty text).
// Then it ends the results. A stop request ends it at once without further
// results; the canceller ends the results.

#include <exception>
#include <memory>
#include <stop_token>

#include "concurrency/notification.hpp"
#include "platform/sphinx/analysis/result_sink.hpp"
#include "platform/sphinx/decoder/decoder_cache.hpp"
#include "platform/sphinx/decoder/result_text_style.hpp"

namespace tolva::sphinx {

// Everything the decoding thread touches, shared with the analyzer so that
// neither outlives what it uses.
struct LiveDecodingState {
  DecoderLease decoder;
  ResultSink sink;
  ResultTextWriter writeText;  // the text of each result
  std::shared_ptr<AnalyzerInputChannel> input;
  Notification done;         // notified when the thread has finished
  std::exception_ptr error;  // set before done, when decoding failed
};

// The body of the decoding thread; never throws (a failure ends the results
// with the error and is kept in state.error).
void runLiveDecoding(LiveDecodingState& state, std::stop_token stop);

}  // namespace tolva::sphinx
