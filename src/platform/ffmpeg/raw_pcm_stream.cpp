// Raw PCM needs no demuxer: whole frames go out as soon as their bytes are
// in, so a writer's 20 ms pieces reach the analyzer as 20 ms pieces, where
// FFmpeg's raw demuxer would gather 1024-sample packets first.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/ffmpeg/ffmpeg_stream.hpp"

namespace tolva::ffmpeg {
namespace {

float sampleAt(const std::uint8_t* bytes, RawSampleFormat format) {
  if (format == RawSampleFormat::s16le) {
    auto value = static_cast<std::int16_t>(bytes[0] | (bytes[1] << 8));
    return static_cast<float>(value) / 32768.0f;
  }
  std::uint32_t bits = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return std::isfinite(value) ? value : 0.0f;  // garbage must not poison the decoder
}

class RawPcmStream final : public AudioStream {
 public:
  RawPcmStream(std::shared_ptr<StreamInput> input, const RawPcmFormat& format, std::optional<std::uint64_t> byteLimit)
      : input_(std::move(input)),
        raw_(format),
        remaining_(byteLimit),
        sampleBytes_(format.sampleFormat == RawSampleFormat::s16le ? 2 : 4),
        frameBytes_(sampleBytes_ * static_cast<std::size_t>(format.channels)) {}

  std::optional<AudioFormat> open() override {
    if (input_->cancelled()) return std::nullopt;
    return AudioFormat{static_cast<double>(raw_.rate), static_cast<std::uint32_t>(raw_.channels),
                       CommonFormat::float32};
  }

  void read(PcmBuffer& buffer) override {
    buffer.frameLength = 0;
    while (pending_.size() < frameBytes_) {
      std::size_t room = std::max<std::size_t>(buffer.frameCapacity, 1) * frameBytes_ - pending_.size();
      if (remaining_) room = static_cast<std::size_t>(std::min<std::uint64_t>(room, *remaining_));
      if (room == 0) return;  // the stated length is read: what follows is not audio
      std::size_t had = pending_.size();
      pending_.resize(had + room);
      std::ptrdiff_t count = input_->read(pending_.data() + had, room);
      pending_.resize(had + static_cast<std::size_t>(std::max<std::ptrdiff_t>(count, 0)));
      if (count <= 0) return;  // the end (a trailing partial frame is dropped) or a cancel
      if (remaining_) *remaining_ -= static_cast<std::uint64_t>(count);
    }
    auto frames =
        static_cast<std::uint32_t>(std::min<std::size_t>(pending_.size() / frameBytes_, buffer.frameCapacity));
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
      const std::uint8_t* at = pending_.data() + frame * frameBytes_;
      for (std::size_t c = 0; c < buffer.channels.size(); ++c) {
        buffer.channels[c][frame] = sampleAt(at + c * sampleBytes_, raw_.sampleFormat);
      }
    }
    buffer.frameLength = frames;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes_));
  }

  void cancel() override { input_->cancel(); }

 private:
  std::shared_ptr<StreamInput> input_;
  RawPcmFormat raw_;
  std::optional<std::uint64_t> remaining_;  // bytes left of a stated length
  std::size_t sampleBytes_;
  std::size_t frameBytes_;
  std::vector<std::uint8_t> pending_;
};

}  // namespace

std::unique_ptr<AudioStream> makeRawPcmStream(std::shared_ptr<StreamInput> input, const RawPcmFormat& format,
                                              std::optional<std::uint64_t> byteLimit) {
  return std::make_unique<RawPcmStream>(std::move(input), format, byteLimit);
}

}  // namespace tolva::ffmpeg
