#pragma once
// AnalyzerFormatConverter: turns PCM buffers of a source format (the
// microphone's, a replayed file's) into buffers of the analyzer's format, one
// buffer at a time for the whole session. The platform converter inside keeps
// its state across buffers and is never flushed, so a stream cut into buffers
// converts like the whole stream.
//
// Thread contract: one thread at a time (the capture tap or the replay feed).

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/audio.hpp"

namespace tolva {

class AnalyzerFormatConverter {
 public:
  // Nothing when the platform cannot convert between the two formats.
  static std::unique_ptr<AnalyzerFormatConverter> make(AudioSystem& audio, const AudioFormat& source,
                                                       const AudioFormat& analyzer);

  // The converted audio, or nothing when the output buffer cannot be made, the
  // conversion fails or it produced no frames. Failures are silent: the
  // caller drops the buffer.
  std::optional<PcmBuffer> convert(const PcmBuffer& input);

  // Output capacity for `frames` input frames: frames x ratio truncated, plus
  // 64 frames of headroom; nothing when that is not finite or exceeds 32 bits.
  static std::optional<std::uint32_t> capacityFor(std::uint32_t frames, double rateRatio);

  const AudioFormat& outputFormat() const { return outputFormat_; }

 private:
  AnalyzerFormatConverter(std::unique_ptr<AudioConverter> converter, AudioFormat outputFormat, double rateRatio)
      : converter_(std::move(converter)), outputFormat_(outputFormat), rateRatio_(rateRatio) {}

  std::unique_ptr<AudioConverter> converter_;
  AudioFormat outputFormat_;
  double rateRatio_;
};

}  // namespace tolva
