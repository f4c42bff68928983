#include "platform/audio.hpp"

#include <cmath>

namespace tolva {

std::string formatDescription(const AudioFormat& format) {
  double rate = std::trunc(format.sampleRate);
  std::string rateText = std::isfinite(rate) ? std::to_string(static_cast<long long>(rate)) : "0";
  return rateText + "Hz ch=" + std::to_string(format.channelCount);
}

std::optional<PcmBuffer> PcmBuffer::make(const AudioFormat& format, std::uint32_t capacity) {
  // 2^27 frames per channel are far beyond any real stream.
  constexpr std::uint32_t maxFrames = 1u << 27;
  if (format.channelCount == 0 || format.channelCount > maxChannelCount || capacity > maxFrames) return std::nullopt;
  PcmBuffer buffer;
  buffer.format = format;
  buffer.frameCapacity = capacity;
  buffer.channels.assign(format.channelCount, std::vector<float>(capacity, 0.0f));
  return buffer;
}

}  // namespace tolva
