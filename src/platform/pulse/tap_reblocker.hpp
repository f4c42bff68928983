#pragma once
// Cuts captured audio into tap buffers of a fixed size. The server hands out
// blocks of whatever size the writer used, interleaved; taps get exactly
// `bufferFrames` frames each, deinterleaved.
//
// Thread contract: one thread at a time (the main loop's).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/audio.hpp"

namespace tolva::pulse {

class TapReblocker {
 public:
  using Deliver = std::function<void(const PcmBuffer& buffer)>;

  // `format` is float32 interleaved on the wire, with its channel count.
  TapReblocker(const AudioFormat& format, std::uint32_t bufferFrames);

  // Appends interleaved native-endian float32 bytes, calling `deliver` for
  // each buffer that fills. A partial frame waits for the rest of its bytes.
  void push(const void* bytes, std::size_t size, const Deliver& deliver);

  // Drops what has not filled a buffer yet.
  void reset();

  std::uint32_t bufferFrames() const { return buffer_.frameCapacity; }

 private:
  void appendFrame(const float* frame, const Deliver& deliver);

  PcmBuffer buffer_;
  std::size_t frameBytes_;
  std::vector<std::uint8_t> partialFrame_;
};

}  // namespace tolva::pulse
