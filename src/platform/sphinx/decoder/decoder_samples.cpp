#include "platform/sphinx/decoder/decoder_samples.hpp"

#include <algorithm>
#include <cmath>

#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder/decoder.hpp"

namespace tolva::sphinx {

void DecoderSamples::convert(const PcmBuffer& buffer, std::vector<std::int16_t>& out) {
  if (buffer.frameLength == 0) return;
  const AudioFormat& format = buffer.format;
  if (!std::isfinite(format.sampleRate) || format.sampleRate < 1 || buffer.channels.empty()) {
    throw PlatformError("audio for the speech decoder needs a sample rate and at least one channel (got " +
                        formatDescription(format) + ")");
  }
  if (!format_ || format_->sampleRate != format.sampleRate || format_->channelCount != format.channelCount) {
    restartFor(format, out);
  }
  std::size_t frames = buffer.frameLength;
  for (const auto& channel : buffer.channels) frames = std::min(frames, channel.size());
  mono_.assign(frames, 0.0f);
  float share = 1.0f / static_cast<float>(buffer.channels.size());
  for (const auto& channel : buffer.channels) {
    for (std::size_t i = 0; i < frames; ++i) mono_[i] += channel[i] * share;
  }
  if (!resampler_) {
    appendScaled(mono_, out);
    return;
  }
  resampled_.clear();
  resampler_->push(mono_, resampled_);
  appendScaled(resampled_, out);
}

void DecoderSamples::finish(std::vector<std::int16_t>& out) {
  if (!resampler_) return;
  resampled_.clear();
  resampler_->flush(resampled_);
  appendScaled(resampled_, out);
  resampler_.reset();
  format_.reset();
}

void DecoderSamples::restartFor(const AudioFormat& format, std::vector<std::int16_t>& out) {
  finish(out);
  format_ = format;
  if (format.sampleRate != Decoder::sampleRate) resampler_.emplace(format.sampleRate, Decoder::sampleRate);
}

void DecoderSamples::appendScaled(const std::vector<float>& samples, std::vector<std::int16_t>& out) {
  out.reserve(out.size() + samples.size());
  for (float sample : samples) {
    float scaled = std::isfinite(sample) ? std::nearbyint(sample * 32768.0f) : 0.0f;
    out.push_back(static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f)));
  }
}

}  // namespace tolva::sphinx
