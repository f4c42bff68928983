// A container stream (WAV, Ogg/Opus, WebM/Opus, …) demuxed by FFmpeg through
// a custom I/O context over the StreamInput: nothing is seekable, and every
// wait for bytes can be ended by cancel(). Probing is bounded, so bytes that
// are not audio fail after 64 KiB instead of after FFmpeg's megabytes.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>

#include "platform/ffmpeg/ffmpeg_log.hpp"
#include "platform/ffmpeg/ffmpeg_stream.hpp"
#include "platform/ffmpeg/sample_copy.hpp"

namespace tolva::ffmpeg {
namespace {

constexpr int ioBufferBytes = 4096;

int readPacket(void* opaque, std::uint8_t* into, int size) {
  auto* input = static_cast<StreamInput*>(opaque);
  try {
    std::ptrdiff_t count = input->read(into, static_cast<std::size_t>(size));
    if (count == StreamInput::wasCancelled) return AVERROR_EXIT;
    if (count == StreamInput::ended) return AVERROR_EOF;
    return static_cast<int>(count);
  } catch (const PlatformError&) {
    return AVERROR(EIO);  // nothing may unwind through FFmpeg's C code
  }
}

int interrupted(void* opaque) { return static_cast<StreamInput*>(opaque)->cancelled() ? 1 : 0; }

AudioFormat frameFormat(const AVFrame& frame) {
  return AudioFormat{static_cast<double>(frame.sample_rate), static_cast<std::uint32_t>(frame.ch_layout.nb_channels),
                     CommonFormat::float32};
}

class ContainerStream final : public AudioStream {
 public:
  explicit ContainerStream(std::shared_ptr<StreamInput> input) : input_(std::move(input)) {}
  ~ContainerStream() override {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    if (io_) av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  ContainerStream(const ContainerStream&) = delete;
  ContainerStream& operator=(const ContainerStream&) = delete;

  std::optional<AudioFormat> open() override;
  void read(PcmBuffer& buffer) override;
  void cancel() override { input_->cancel(); }

 private:
  bool openContainer();
  void openDecoder();
  const AVFrame* nextFrame();
  bool readPacketIntoDecoder();

  std::shared_ptr<StreamInput> input_;
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  int stream_ = -1;
  bool inputEnded_ = false;
  AudioFormat audioFormat_;
  bool framePending_ = false;
  int frameOffset_ = 0;
};

// False when the stream ended or was cancelled before its header.
bool ContainerStream::openContainer() {
  auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferBytes));
  io_ = buffer ? avio_alloc_context(buffer, ioBufferBytes, 0, input_.get(), readPacket, nullptr, nullptr) : nullptr;
  format_ = avformat_alloc_context();
  if (!io_ || !format_) throw libraryError("cannot set up the audio stream", AVERROR(ENOMEM));
  io_->seekable = 0;
  format_->pb = io_;
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  format_->interrupt_callback = {interrupted, input_.get()};
  AVDictionary* options = nullptr;
  av_dict_set(&options, "formatprobesize", "65536", 0);
  av_dict_set(&options, "probesize", "65536", 0);
  av_dict_set(&options, "max_size", "1024", 0);  // WAV packets of 1 KiB, not 4: audio leaves sooner
  int result = avformat_open_input(&format_, "", nullptr, &options);
  av_dict_free(&options);
  if (result >= 0) return true;
  if (input_->cancelled() || input_->bytesRead() == 0) return false;
  throw libraryError("cannot decode the audio stream", result);
}

void ContainerStream::openDecoder() {
  const AVCodec* codec = nullptr;
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (stream_ < 0) throw libraryError("the stream has no decodable audio", stream_);
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    if (static_cast<int>(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
  }
  codec_ = avcodec_alloc_context3(codec);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!codec_ || !packet_ || !frame_) throw libraryError("cannot set up the decoder", AVERROR(ENOMEM));
  int result = avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar);
  if (result < 0) throw libraryError("cannot set up the decoder", result);
  codec_->thread_count = 1;
  result = avcodec_open2(codec_, codec, nullptr);
  if (result < 0) throw libraryError("cannot open the audio decoder", result);
}

std::optional<AudioFormat> ContainerStream::open() {
  captureLibraryLog();
  clearLibraryLog();
  if (!openContainer()) return std::nullopt;
  openDecoder();
  // The first frame decides the format: a header's rate and channels may be
  // missing, or differ from what the decoder makes of them.
  const AVFrame* first = nextFrame();
  if (!first) return std::nullopt;
  audioFormat_ = frameFormat(*first);
  if (audioFormat_.sampleRate <= 0 || audioFormat_.channelCount == 0 || audioFormat_.channelCount > maxChannelCount) {
    throw PlatformError("unsupported audio format: " + formatDescription(audioFormat_));
  }
  if (!canCopySamples(*first)) throw PlatformError("unsupported decoded sample format");
  framePending_ = true;
  frameOffset_ = 0;
  return audioFormat_;
}

void ContainerStream::read(PcmBuffer& buffer) {
  buffer.frameLength = 0;
  if (!framePending_) {
    const AVFrame* next = nextFrame();
    if (!next) return;
    if (frameFormat(*next) != audioFormat_) {
      throw PlatformError("the audio format changes within the stream, from " + formatDescription(audioFormat_) +
                          " to " + formatDescription(frameFormat(*next)));
    }
    framePending_ = true;
    frameOffset_ = 0;
  }
  int count = std::min(frame_->nb_samples - frameOffset_, static_cast<int>(buffer.frameCapacity));
  copySamples(*frame_, frameOffset_, count, buffer, 0);
  buffer.frameLength = static_cast<std::uint32_t>(count);
  frameOffset_ += count;
  if (frameOffset_ >= frame_->nb_samples) framePending_ = false;
}

// The next frame with samples; nullptr at the end of the stream or on cancel.
const AVFrame* ContainerStream::nextFrame() {
  clearLibraryLog();
  while (!input_->cancelled()) {
    int result = avcodec_receive_frame(codec_, frame_);
    if (result == 0) {
      if (frame_->nb_samples > 0) return frame_;
      continue;
    }
    if (result == AVERROR_EOF) return nullptr;
    if (result != AVERROR(EAGAIN)) throw libraryError("cannot decode the audio stream", result);
    if (inputEnded_ || !readPacketIntoDecoder()) return nullptr;
  }
  return nullptr;
}

// False when cancelled; at the end of the input the decoder is flushed.
bool ContainerStream::readPacketIntoDecoder() {
  int result = av_read_frame(format_, packet_);
  if (input_->cancelled()) return false;
  if (result == AVERROR_EOF) {
    inputEnded_ = true;
    result = avcodec_send_packet(codec_, nullptr);
    if (result < 0 && result != AVERROR_EOF) throw libraryError("cannot decode the audio stream", result);
    return true;
  }
  if (result < 0) throw libraryError("cannot read the audio stream", result);
  if (packet_->stream_index == stream_) result = avcodec_send_packet(codec_, packet_);
  av_packet_unref(packet_);
  if (result < 0) throw libraryError("cannot decode the audio stream", result);
  return true;
}

}  // namespace

std::unique_ptr<AudioStream> makeContainerStream(std::shared_ptr<StreamInput> input) {
  return std::make_unique<ContainerStream>(std::move(input));
}

}  // namespace tolva::ffmpeg
