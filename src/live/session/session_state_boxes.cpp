#include "live/session/session_state_boxes.hpp"

namespace tolva {

void ContinuationBox::yieldIfOpen(AnalyzerInput input) {
  std::lock_guard lock(mutex_);
  if (continuation_) continuation_->yield(std::move(input));
}

void ContinuationBox::detach() {
  std::lock_guard lock(mutex_);
  continuation_.reset();
}

void AudioFedCounter::add(double ms) {
  std::lock_guard lock(mutex_);
  milliseconds_ += ms;
}

double AudioFedCounter::total() const {
  std::lock_guard lock(mutex_);
  return milliseconds_;
}

bool LiveOnceLatch::claim() {
  std::lock_guard lock(mutex_);
  if (spent_) return false;
  spent_ = true;
  return true;
}

void LiveOnceLatch::spend() {
  std::lock_guard lock(mutex_);
  spent_ = true;
}

void LiveSessionStatsBox::recordResult(bool isFinal, std::int64_t elapsedMs) {
  std::lock_guard lock(mutex_);
  if (isFinal) {
    ++stats_.finalCount;
    return;
  }
  ++stats_.volatileCount;
  if (!stats_.firstVolatileMs) stats_.firstVolatileMs = elapsedMs;
}

void LiveSessionStatsBox::setAudioFedMs(double ms) {
  std::lock_guard lock(mutex_);
  stats_.audioFedMs = ms;
}

LiveSessionStats LiveSessionStatsBox::snapshot() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

}  // namespace tolva
