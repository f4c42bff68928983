#include "commands/transcribe_progress.hpp"

#include <algorithm>
#include <cmath>

#include "concurrency/sleep.hpp"

namespace tolva {
namespace {

void report(double audioSec, double durationSec) {
  log("transcribe.progress", transcribeProgressFields(audioSec, durationSec));
}

}  // namespace

LogFields transcribeProgressFields(double audioSec, double durationSec) {
  if (!std::isfinite(audioSec) || audioSec < 0) audioSec = 0;
  double fraction = durationSec > 0 ? std::min(1.0, audioSec / durationSec) : 1.0;
  return {{"audioSec", audioSec}, {"fraction", fraction}};
}

TranscribeProgress::TranscribeProgress(const SpeechAnalyzer& analyzer, double durationSec)
    : analyzer_(analyzer), durationSec_(durationSec) {
  reporter_ = Task([&analyzer, durationSec](std::stop_token stop) {
    do {
      report(analyzer.analyzedSeconds(), durationSec);
    } while (sleepFor(transcribeProgressInterval, stop));
  });
}

void TranscribeProgress::stop() {
  reporter_.cancel();
  reporter_.wait();
}

void TranscribeProgress::finish() {
  stop();
  if (finished_) return;
  finished_ = true;
  report(analyzer_.analyzedSeconds(), durationSec_);
}

}  // namespace tolva
