#pragma once
// The progress of a file transcription, for parents that show a progress bar.
//
// Progress is the audio the analyzer has decoded (SpeechAnalyzer::
// analyzedSeconds): it rises as the work is done, however far the engine
// reads ahead. A reporter task logs
//   {"event":"transcribe.progress","audioSec":<seconds analysed>,"fraction":<of the duration, at most 1>}
// at once and then every 500 ms until it is stopped; finish() adds one last
// line for the whole file.

#include <chrono>

#include "concurrency/task.hpp"
#include "output/log.hpp"
#include "platform/speech.hpp"

namespace tolva {

inline constexpr std::chrono::milliseconds transcribeProgressInterval{500};

// The fields of one "transcribe.progress" line. A duration of zero counts as
// fully analysed; seconds that are not a number count as none.
LogFields transcribeProgressFields(double audioSec, double durationSec);

// Reports how far `analyzer` has got until stopped. The reporter is joined by
// stop(), finish() and the destructor, so no line of it can follow the
// command's document or its failure, and the analyzer need only outlive this.
class TranscribeProgress {
 public:
  TranscribeProgress(const SpeechAnalyzer& analyzer, double durationSec);
  ~TranscribeProgress() { stop(); }
  TranscribeProgress(const TranscribeProgress&) = delete;
  TranscribeProgress& operator=(const TranscribeProgress&) = delete;

  // Ends the reporter and waits for it; the sleep between lines is cut short.
  void stop();

  // Ends the reporter, then logs the analyzer's final count once.
  void finish();

 private:
  const SpeechAnalyzer& analyzer_;
  double durationSec_;
  Task reporter_;
  bool finished_ = false;
};

}  // namespace tolva
