#pragma once
// Cuts captured audio into tap buffers. The server hands out blocks of
// whatever size the writer used, interleaved; taps get deinterleaved buffers
// of at most `bufferFrames` frames. A buffer goes out when it is full, or at
// the end of a block the server handed out once it holds `flushFrames` or
// more: so audio reaches the tap about as soon as it was captured, not when a
// whole buffer of the tap's size (85 ms at 48 kHz, 256 ms at 16 kHz) has
// filled, and tiny blocks are still gathered.
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

  // `format` is float32 interleaved on the wire, with its channel count;
  // `flushFrames` is at least 1 and at most `bufferFrames`.
  TapReblocker(const AudioFormat& format, std::uint32_t bufferFrames, std::uint32_t flushFrames);

  // Appends one block of interleaved native-endian float32 bytes, calling
  // `deliver` for each buffer that fills and then for what the block left
  // when that is `flushFrames` or more. A partial frame waits for the rest of
  // its bytes.
  void push(const void* bytes, std::size_t size, const Deliver& deliver);

  // Drops what has not filled a buffer yet.
  void reset();

  std::uint32_t bufferFrames() const { return buffer_.frameCapacity; }

 private:
  void appendFrame(const float* frame, const Deliver& deliver);

  PcmBuffer buffer_;
  std::uint32_t flushFrames_;
  std::size_t frameBytes_;
  std::vector<std::uint8_t> partialFrame_;
};

}  // namespace tolva::pulse
