// A stream whose kind is known only from its first bytes. Reading them waits
// like any read, so cancel() ends the look as well.

#include <algorithm>
#include <vector>

#include "platform/ffmpeg/ffmpeg_stream.hpp"
#include "platform/ffmpeg/wav_stream_header.hpp"

namespace tolva::ffmpeg {
namespace {

class SniffedStream final : public AudioStream {
 public:
  explicit SniffedStream(std::shared_ptr<StreamInput> input) : input_(std::move(input)) {}

  std::optional<AudioFormat> open() override {
    std::vector<std::uint8_t> start;
    WavHeaderScan scan;
    while ((scan = scanWavHeader(start)).state == WavHeaderScan::State::needMore) {
      std::size_t had = start.size();
      start.resize(had + 512);
      std::ptrdiff_t count = input_->read(start.data() + had, 512);
      start.resize(had + static_cast<std::size_t>(std::max<std::ptrdiff_t>(count, 0)));
      if (count <= 0) break;  // ended or cancelled inside the header: the container says what it makes of it
    }
    if (scan.state == WavHeaderScan::State::pcm) {
      start.erase(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(scan.header.dataOffset));
      std::optional<std::uint64_t> limit = scan.header.dataBytes;  // counts the bytes given back too
      if (limit && start.size() > *limit) start.resize(*limit);
      inner_ = makeRawPcmStream(input_, scan.header.format, limit);
    } else {
      inner_ = makeContainerStream(input_);
    }
    input_->giveBack(std::move(start));
    return inner_->open();
  }

  void read(PcmBuffer& buffer) override {
    buffer.frameLength = 0;
    if (inner_) inner_->read(buffer);
  }

  // Any thread: the streams' own cancel does no more than this.
  void cancel() override { input_->cancel(); }

 private:
  std::shared_ptr<StreamInput> input_;
  std::unique_ptr<AudioStream> inner_;
};

}  // namespace

std::unique_ptr<AudioStream> makeSniffedStream(std::shared_ptr<StreamInput> input) {
  return std::make_unique<SniffedStream>(std::move(input));
}

}  // namespace tolva::ffmpeg
