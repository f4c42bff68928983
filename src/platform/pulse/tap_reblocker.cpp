#include "platform/pulse/tap_reblocker.hpp"

#include <algorithm>
#include <cstring>

#include "platform/platform_error.hpp"

namespace tolva::pulse {

TapReblocker::TapReblocker(const AudioFormat& format, std::uint32_t bufferFrames, std::uint32_t flushFrames)
    : flushFrames_(std::clamp<std::uint32_t>(flushFrames, 1, std::max<std::uint32_t>(bufferFrames, 1))),
      frameBytes_(sizeof(float) * format.channelCount) {
  auto buffer = PcmBuffer::make(format, bufferFrames);
  if (!buffer || bufferFrames == 0) throw PlatformError("unsupported tap format " + formatDescription(format));
  buffer_ = std::move(*buffer);
  partialFrame_.reserve(frameBytes_);
}

void TapReblocker::push(const void* bytes, std::size_t size, const Deliver& deliver) {
  const auto* data = static_cast<const std::uint8_t*>(bytes);
  std::vector<float> frame(buffer_.channels.size());
  if (!partialFrame_.empty()) {
    std::size_t missing = std::min(frameBytes_ - partialFrame_.size(), size);
    partialFrame_.insert(partialFrame_.end(), data, data + missing);
    data += missing;
    size -= missing;
    if (partialFrame_.size() == frameBytes_) {
      std::memcpy(frame.data(), partialFrame_.data(), frameBytes_);
      partialFrame_.clear();
      appendFrame(frame.data(), deliver);
    }
  }
  for (; size >= frameBytes_; data += frameBytes_, size -= frameBytes_) {
    std::memcpy(frame.data(), data, frameBytes_);  // the server's blocks need not be float-aligned
    appendFrame(frame.data(), deliver);
  }
  if (size > 0) partialFrame_.assign(data, data + size);
  if (buffer_.frameLength >= flushFrames_) {
    deliver(buffer_);
    buffer_.frameLength = 0;
  }
}

void TapReblocker::reset() {
  buffer_.frameLength = 0;
  partialFrame_.clear();
}

void TapReblocker::appendFrame(const float* frame, const Deliver& deliver) {
  for (std::size_t c = 0; c < buffer_.channels.size(); ++c) buffer_.channels[c][buffer_.frameLength] = frame[c];
  if (++buffer_.frameLength < buffer_.frameCapacity) return;
  deliver(buffer_);
  buffer_.frameLength = 0;
}

}  // namespace tolva::pulse
