#include "platform/sphinx/analysis/decoding_progress.hpp"

#include <algorithm>

#include "platform/sphinx/decoder/decoder.hpp"

namespace tolva::sphinx {

void DecodingProgress::submitting(std::int64_t startSample, std::int64_t samples) {
  std::lock_guard lock(mutex_);
  outstanding_.push_back({startSample, samples});
}

void DecodingProgress::decodingBegins(std::int64_t startSample) {
  Clock::time_point now = now_();
  std::lock_guard lock(mutex_);
  if (Outstanding* utterance = find(startSample)) {
    utterance->state = Outstanding::State::decoding;
    utterance->began = now;
  }
}

void DecodingProgress::decodingEnds(std::int64_t startSample) {
  Clock::time_point now = now_();
  std::lock_guard lock(mutex_);
  Outstanding* utterance = find(startSample);
  if (!utterance || utterance->state != Outstanding::State::decoding) return;
  utterance->state = Outstanding::State::decoded;
  decodedSeconds_ += std::chrono::duration<double>(now - utterance->began).count();
  decodedSamples_ += utterance->samples;
}

void DecodingProgress::delivered() {
  std::lock_guard lock(mutex_);
  if (!outstanding_.empty()) outstanding_.pop_front();
}

void DecodingProgress::settled(std::int64_t sample) {
  std::lock_guard lock(mutex_);
  settled_ = std::max(settled_, sample);
}

void DecodingProgress::finished(double seconds) {
  std::lock_guard lock(mutex_);
  reported_ = std::max(reported_, seconds);
}

double DecodingProgress::seconds() const {
  Clock::time_point now = now_();
  std::lock_guard lock(mutex_);
  double seconds = countedSamples(now) / Decoder::sampleRate;
  reported_ = std::max(reported_, seconds);
  return reported_;
}

DecodingProgress::Outstanding* DecodingProgress::find(std::int64_t startSample) {
  auto found = std::find_if(outstanding_.begin(), outstanding_.end(),
                            [startSample](const Outstanding& utterance) { return utterance.startSample == startSample; });
  return found == outstanding_.end() ? nullptr : &*found;
}

double DecodingProgress::countedSamples(Clock::time_point now) const {
  if (outstanding_.empty()) return static_cast<double>(settled_);
  double secondsPerSample = decodedSamples_ > 0 ? decodedSeconds_ / static_cast<double>(decodedSamples_)
                                                : priorSecondsPerSecond / Decoder::sampleRate;
  double counted = static_cast<double>(outstanding_.front().startSample);
  for (const Outstanding& utterance : outstanding_) {
    auto length = static_cast<double>(utterance.samples);
    if (utterance.state == Outstanding::State::decoded) {
      counted += length;
    } else if (utterance.state == Outstanding::State::decoding && length > 0) {
      double elapsed = std::chrono::duration<double>(now - utterance.began).count();
      double expected = secondsPerSample * length;
      double share = expected > 0 ? std::min(partialCap, elapsed / expected) : partialCap;
      counted += share * length;
    }
  }
  return std::min(counted, static_cast<double>(settled_));
}

}  // namespace tolva::sphinx
