#pragma once
// Demuxing and decoding of one file's best audio stream, frame by frame.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio.hpp"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

namespace tolva::ffmpeg {

class Decoder {
 public:
  // Opens the file and its decoder; throws PlatformError with FFmpeg's text
  // when the container, the stream or the codec cannot be opened.
  explicit Decoder(const std::string& path);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // The format the stream's parameters announce (float32 at their rate and
  // channel count); decoded frames may still differ.
  AudioFormat announcedFormat() const;

  // The stream's frame count where the container states it exactly and the
  // decoder delivers exactly that: PCM and FLAC with a header-given duration.
  // Lossy codecs' stated durations disagree with the decoder's output by
  // their encoder delay and padding, and many are mere estimates.
  std::optional<std::int64_t> statedLength() const;

  // The duration the container states or estimates, in seconds, where it
  // gives one: only good enough to tell a damaged file from a whole one.
  std::optional<double> statedSeconds() const;

  // Whether that duration is the stream's own (a header or index gives it),
  // not an estimate from the bit rate.
  bool durationFromStream() const;

  // The next decoded frame with at least one sample, or nullptr at the end of
  // the data. The frame stays valid until the next call. Throws PlatformError
  // on a read or decoding error, and again on every later call.
  const AVFrame* next();

 private:
  struct Contexts;

  void sendNextPacket();

  std::unique_ptr<Contexts> contexts_;
  int stream_ = -1;
  bool inputEnded_ = false;
  std::string failure_;
};

}  // namespace tolva::ffmpeg
