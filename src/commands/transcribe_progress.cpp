#include "commands/transcribe_progress.hpp"

#include <algorithm>
#include <cmath>

#include "concurrency/sleep.hpp"

namespace tolva {
namespace {

void report(std::int64_t framesRead, double sampleRate, double durationSec) {
  log("transcribe.progress", transcribeProgressFields(framesRead, sampleRate, durationSec));
}

}  // namespace

LogFields transcribeProgressFields(std::int64_t framesRead, double sampleRate, double durationSec) {
  bool usableRate = std::isfinite(sampleRate) && sampleRate > 0;
  double audioSec = usableRate ? static_cast<double>(framesRead) / sampleRate : 0.0;
  double fraction = durationSec > 0 ? std::min(1.0, audioSec / durationSec) : 1.0;
  return {{"audioSec", audioSec}, {"fraction", fraction}};
}

void FrameCountingFile::read(PcmBuffer& buffer, std::uint32_t frameCount) {
  file_.read(buffer, frameCount);
  count_->frames.fetch_add(buffer.frameLength, std::memory_order_relaxed);
}

TranscribeProgress::TranscribeProgress(AudioFile& file, double durationSec)
    : count_(std::make_shared<FramesRead>()),
      counting_(file, count_),
      sampleRate_(file.processingFormat().sampleRate),
      durationSec_(durationSec) {
  reporter_ = Task([count = count_, rate = sampleRate_, durationSec](std::stop_token stop) {
    do {
      report(count->frames.load(std::memory_order_relaxed), rate, durationSec);
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
  report(count_->frames.load(std::memory_order_relaxed), sampleRate_, durationSec_);
}

}  // namespace tolva
