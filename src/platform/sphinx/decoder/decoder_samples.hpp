#pragma once
// DecoderSamples: turns PCM buffers of any rate and channel count into what the
// decoder takes, 16 kHz mono 16-bit samples. Channels are averaged, other
// rates resampled (state carried across buffers), and floats scaled by 32768,
// rounded and clamped, so 16-bit audio read as float comes back unchanged.
// A buffer in a new format restarts the conversion in that format.
//
// Thread contract: one thread at a time.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio.hpp"
#include "platform/sphinx/decoder/resampler.hpp"

namespace tolva::sphinx {

class DecoderSamples {
 public:
  // Appends the samples of `buffer` (its first frameLength frames). Throws
  // PlatformError for a format without channels or a usable rate.
  void convert(const PcmBuffer& buffer, std::vector<std::int16_t>& out);
  // Appends what the resampler still holds at the end of the stream.
  void finish(std::vector<std::int16_t>& out);

 private:
  void restartFor(const AudioFormat& format, std::vector<std::int16_t>& out);
  static void appendScaled(const std::vector<float>& samples, std::vector<std::int16_t>& out);

  std::optional<AudioFormat> format_;
  std::optional<Resampler> resampler_;  // none while the rate is already 16 kHz
  std::vector<float> mono_;
  std::vector<float> resampled_;
};

}  // namespace tolva::sphinx
