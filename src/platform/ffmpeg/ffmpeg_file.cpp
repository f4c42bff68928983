// An audio file read through FFmpeg.
//
// The length must be exactly what reads deliver. Where the container states
// it exactly (PCM, FLAC) it is taken from there; everywhere else (MP3 without
// a Xing header and ADTS AAC only estimate it; MP3 with a LAME tag, M4A and
// Opus state durations that differ from the decoder's output by encoder delay
// and padding) opening counts the frames with a decoding pass of its own:
// a few seconds per hour of compressed audio, and damaged data becomes an
// open error. Reads never deliver more than the length, and data that ends
// short of it is a read error rather than a silent early end.

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstdio>

#include "platform/ffmpeg/decoder.hpp"
#include "platform/ffmpeg/ffmpeg_audio.hpp"
#include "platform/ffmpeg/ffmpeg_log.hpp"
#include "platform/ffmpeg/sample_copy.hpp"

namespace tolva::ffmpeg {
namespace {

AudioFormat frameFormat(const AVFrame& frame) {
  return AudioFormat{static_cast<double>(frame.sample_rate), static_cast<std::uint32_t>(frame.ch_layout.nb_channels),
                     CommonFormat::float32};
}

void requireUsable(const AudioFormat& format) {
  if (format.sampleRate <= 0 || format.channelCount == 0 || format.channelCount > maxChannelCount) {
    throw PlatformError("unsupported audio format: " + formatDescription(format));
  }
}

// Every frame must keep the format reads were promised.
void requireFrameFormat(const AVFrame& frame, const AudioFormat& format) {
  if (frameFormat(frame) != format) {
    throw PlatformError("the audio format changes within the file, from " + formatDescription(format) + " to " +
                        formatDescription(frameFormat(frame)));
  }
  if (!canCopySamples(frame)) throw PlatformError("unsupported decoded sample format");
}

// Damaged data is skipped by FFmpeg with no more than a log line: a file
// whose every page fails its checksum decodes as a few milliseconds; and a
// damaged sample table can yield no packet at all, with no line. Audio falling
// this far short of what the container states is an error, not a short
// transcript: always when the stream states its duration, and for a duration
// only estimated from the bit rate (which may be far off) when damage was
// reported on the way.
void requireUndamaged(const Decoder& decoder, std::int64_t frames, const AudioFormat& format,
                      const LibraryDamage& before) {
  LibraryDamage after = libraryDamage();
  std::optional<double> stated = decoder.statedSeconds();
  bool damageReported = after.errorLines != before.errorLines;
  if (!stated || (!damageReported && !decoder.durationFromStream())) return;
  double decoded = static_cast<double>(frames) / format.sampleRate;
  double missing = *stated - decoded;
  if (missing <= 0.25 || missing <= 0.2 * *stated) return;
  char seconds[96];
  std::snprintf(seconds, sizeof seconds, "%.3f of the %.3f seconds", decoded, *stated);
  throw PlatformError("the audio data is damaged: only " + std::string(seconds) + " the file states could be decoded" +
                      (damageReported ? " (" + after.lastErrorLine + ")" : ""));
}

std::int64_t countFrames(const std::string& path, const AudioFormat& format) {
  LibraryDamage before = libraryDamage();
  Decoder decoder(path);
  std::int64_t frames = 0;
  while (const AVFrame* frame = decoder.next()) {
    requireFrameFormat(*frame, format);
    frames += frame->nb_samples;
  }
  requireUndamaged(decoder, frames, format, before);
  return frames;
}

class FfmpegAudioFile final : public AudioFile {
 public:
  explicit FfmpegAudioFile(const std::string& path) : decoder_(path) {
    // The first decoded frame gives the format: it can differ from the
    // stream's announced parameters (HE-AAC's parametric stereo).
    frame_ = decoder_.next();
    format_ = frame_ ? frameFormat(*frame_) : decoder_.announcedFormat();
    requireUsable(format_);
    if (frame_) requireFrameFormat(*frame_, format_);
    length_ = decoder_.statedLength().value_or(-1);
    if (length_ < 0) length_ = countFrames(path, format_);
  }

  AudioFormat processingFormat() const override { return format_; }
  std::int64_t length() const override { return length_; }

  void read(PcmBuffer& buffer, std::uint32_t frameCount) override {
    requireBufferFits(buffer);
    buffer.frameLength = 0;
    auto wanted = static_cast<std::uint32_t>(
        std::min<std::int64_t>(std::min(frameCount, buffer.frameCapacity), length_ - delivered_));
    std::uint32_t filled = 0;
    while (filled < wanted) {
      if (!frame_ || offset_ == frame_->nb_samples) nextFrame();
      int take = static_cast<int>(std::min<std::uint32_t>(wanted - filled, frame_->nb_samples - offset_));
      copySamples(*frame_, offset_, take, buffer, filled);
      offset_ += take;
      filled += take;
    }
    delivered_ += filled;
    buffer.frameLength = filled;
  }

 private:
  void nextFrame() {
    frame_ = nullptr;
    offset_ = 0;
    frame_ = decoder_.next();
    if (!frame_) {
      throw PlatformError("the audio data ends after " + std::to_string(delivered_) + " of " + std::to_string(length_) +
                          " frames; the file is truncated");
    }
    requireFrameFormat(*frame_, format_);
  }

  void requireBufferFits(const PcmBuffer& buffer) const {
    bool fits = buffer.channels.size() == format_.channelCount &&
                std::all_of(buffer.channels.begin(), buffer.channels.end(),
                            [&](const auto& channel) { return channel.size() >= buffer.frameCapacity; });
    if (!fits) throw PlatformError("the buffer does not match the file's format " + formatDescription(format_));
  }

  Decoder decoder_;
  AudioFormat format_;
  std::int64_t length_ = 0;
  std::int64_t delivered_ = 0;
  const AVFrame* frame_ = nullptr;  // decoded, not yet fully read
  int offset_ = 0;                  // frames of frame_ already read
};

}  // namespace

std::unique_ptr<AudioFile> openAudioFile(const std::string& path) { return std::make_unique<FfmpegAudioFile>(path); }

}  // namespace tolva::ffmpeg
