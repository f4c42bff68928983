#include "platform/ffmpeg/decoder.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <sys/stat.h>

#include <cerrno>

#include "platform/ffmpeg/ffmpeg_log.hpp"

namespace tolva::ffmpeg {

struct Decoder::Contexts {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;

  ~Contexts() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }
};

namespace {

// Only regular files: FFmpeg would block forever on a FIFO and reads a
// directory as an empty stream.
void requireRegularFile(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) throw libraryError("cannot open audio file", AVERROR(errno));
  if (S_ISDIR(info.st_mode)) throw libraryError("cannot open audio file", AVERROR(EISDIR));
  if (!S_ISREG(info.st_mode)) throw PlatformError("cannot open audio file: not a regular file");
}

AVFormatContext* openContainer(const std::string& path) {
  AVDictionary* options = nullptr;
  // The path is a local file: never let a name that looks like a URL, or a
  // playlist inside the file, reach another protocol.
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* format = nullptr;
  int result = avformat_open_input(&format, ("file:" + path).c_str(), nullptr, &options);
  av_dict_free(&options);
  if (result < 0) throw libraryError("cannot open audio file", result);
  result = avformat_find_stream_info(format, nullptr);
  if (result < 0) {
    avformat_close_input(&format);
    throw libraryError("cannot read the audio file's streams", result);
  }
  return format;
}

}  // namespace

Decoder::Decoder(const std::string& path) : contexts_(std::make_unique<Contexts>()) {
  captureLibraryLog();
  clearLibraryLog();
  requireRegularFile(path);
  auto& c = *contexts_;
  c.format = openContainer(path);
  const AVCodec* codec = nullptr;
  stream_ = av_find_best_stream(c.format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (stream_ < 0) throw libraryError("the file has no decodable audio stream", stream_);
  for (unsigned i = 0; i < c.format->nb_streams; ++i) {
    if (static_cast<int>(i) != stream_) c.format->streams[i]->discard = AVDISCARD_ALL;
  }
  c.codec = avcodec_alloc_context3(codec);
  c.packet = av_packet_alloc();
  c.frame = av_frame_alloc();
  if (!c.codec || !c.packet || !c.frame) throw libraryError("cannot set up the decoder", AVERROR(ENOMEM));
  int result = avcodec_parameters_to_context(c.codec, c.format->streams[stream_]->codecpar);
  if (result < 0) throw libraryError("cannot set up the decoder", result);
  // One thread: audio decoders gain nothing from more, and the log record
  // that explains an error is kept per thread.
  c.codec->thread_count = 1;
  result = avcodec_open2(c.codec, codec, nullptr);
  if (result < 0) throw libraryError("cannot open the audio decoder", result);
}

Decoder::~Decoder() = default;

AudioFormat Decoder::announcedFormat() const {
  const AVCodecContext& codec = *contexts_->codec;
  return AudioFormat{static_cast<double>(codec.sample_rate), static_cast<std::uint32_t>(codec.ch_layout.nb_channels),
                     CommonFormat::float32};
}

std::optional<std::int64_t> Decoder::statedLength() const {
  const AVFormatContext& format = *contexts_->format;
  const AVStream& stream = *format.streams[stream_];
  AVCodecID id = stream.codecpar->codec_id;
  bool pcm = id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
  bool exactCodec = pcm || id == AV_CODEC_ID_FLAC;
  // A header whose data runs past the end of the file makes the demuxer fall
  // back to an estimate, so a truncated WAV is counted, not trusted.
  bool stated = format.duration_estimation_method == AVFMT_DURATION_FROM_STREAM && stream.duration > 0 &&
                stream.duration != AV_NOPTS_VALUE;
  bool inFrames = stream.time_base.num == 1 && stream.time_base.den == stream.codecpar->sample_rate;
  bool fromStart = stream.start_time == AV_NOPTS_VALUE || stream.start_time == 0;
  if (!exactCodec || !stated || !inFrames || !fromStart) return std::nullopt;
  return stream.duration;
}

std::optional<double> Decoder::statedSeconds() const {
  const AVFormatContext& format = *contexts_->format;
  const AVStream& stream = *format.streams[stream_];
  if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0) return stream.duration * av_q2d(stream.time_base);
  if (format.duration != AV_NOPTS_VALUE && format.duration > 0)
    return static_cast<double>(format.duration) / AV_TIME_BASE;
  return std::nullopt;
}

bool Decoder::durationFromStream() const {
  return contexts_->format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
}

const AVFrame* Decoder::next() {
  if (!failure_.empty()) throw PlatformError(failure_);
  auto& c = *contexts_;
  try {
    clearLibraryLog();
    while (true) {
      int result = avcodec_receive_frame(c.codec, c.frame);
      if (result == 0) {
        if (c.frame->nb_samples > 0) return c.frame;
        continue;
      }
      if (result == AVERROR_EOF) return nullptr;
      if (result != AVERROR(EAGAIN)) throw libraryError("cannot decode audio", result);
      // The decoder was flushed yet wants more: nothing more will come.
      if (inputEnded_) return nullptr;
      sendNextPacket();
    }
  } catch (const PlatformError& error) {
    failure_ = error.what();
    throw;
  }
}

void Decoder::sendNextPacket() {
  auto& c = *contexts_;
  int result = av_read_frame(c.format, c.packet);
  if (result == AVERROR_EOF) {
    inputEnded_ = true;
    result = avcodec_send_packet(c.codec, nullptr);
    if (result < 0 && result != AVERROR_EOF) throw libraryError("cannot decode audio", result);
    return;
  }
  if (result < 0) throw libraryError("cannot read audio data", result);
  if (c.packet->stream_index == stream_) result = avcodec_send_packet(c.codec, c.packet);
  av_packet_unref(c.packet);
  if (result < 0) throw libraryError("cannot decode audio", result);
}

}  // namespace tolva::ffmpeg
