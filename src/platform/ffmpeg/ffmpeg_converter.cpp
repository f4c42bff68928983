// Sample-rate and channel conversion with one libswresample context per
// converter. The context carries the resampler's filter state from one
// convert call to the next and is flushed only when the input block answers
// endOfStream, so a stream converted buffer by buffer loses nothing at the
// buffer edges.

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <climits>
#include <cmath>
#include <vector>

#include "platform/ffmpeg/ffmpeg_audio.hpp"
#include "platform/ffmpeg/ffmpeg_log.hpp"

namespace tolva::ffmpeg {
namespace {

bool convertible(const AudioFormat& format) {
  return format.channelCount > 0 && format.channelCount <= maxChannelCount && std::isfinite(format.sampleRate) &&
         format.sampleRate >= 1 && format.sampleRate <= INT_MAX && std::trunc(format.sampleRate) == format.sampleRate;
}

// Deinterleaved floats on both sides, the default layout for each channel
// count. Mixing down keeps the level below full scale (stereo to mono
// averages) instead of summing past it.
SwrContext* makeContext(const AudioFormat& from, const AudioFormat& to) {
  AVChannelLayout inLayout{}, outLayout{};
  av_channel_layout_default(&inLayout, static_cast<int>(from.channelCount));
  av_channel_layout_default(&outLayout, static_cast<int>(to.channelCount));
  SwrContext* context = nullptr;
  int result = swr_alloc_set_opts2(&context, &outLayout, AV_SAMPLE_FMT_FLTP, static_cast<int>(to.sampleRate), &inLayout,
                                   AV_SAMPLE_FMT_FLTP, static_cast<int>(from.sampleRate), 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  av_channel_layout_uninit(&outLayout);
  if (result < 0 || !context) return nullptr;
  av_opt_set_double(context, "rematrix_maxval", 1.0, 0);
  if (swr_init(context) < 0) swr_free(&context);
  return context;
}

class FfmpegConverter final : public AudioConverter {
 public:
  FfmpegConverter(SwrContext* context, const AudioFormat& from, const AudioFormat& to)
      : context_(context), from_(from), to_(to) {}
  ~FfmpegConverter() override { swr_free(&context_); }
  FfmpegConverter(const FfmpegConverter&) = delete;
  FfmpegConverter& operator=(const FfmpegConverter&) = delete;

  void convert(PcmBuffer& output, const ConverterInputBlock& input) override {
    clearLibraryLog();
    requireShape(output, to_.channelCount, output.frameCapacity, "output");
    output.frameLength = 0;
    while (output.frameLength < output.frameCapacity) {
      // Hand out what the resampler already holds before asking for more.
      if (drainInto(output) > 0) continue;
      if (flushed_ || !feed(output, input)) break;
    }
  }

 private:
  // Converts the next input into `output`; false when there is none now.
  bool feed(PcmBuffer& output, const ConverterInputBlock& input) {
    auto status = ConverterInputStatus::noDataNow;
    const PcmBuffer* source = input ? input(status) : nullptr;
    if (status == ConverterInputStatus::endOfStream) {
      flushed_ = true;
      run(output, nullptr, 0);
      return false;
    }
    if (status != ConverterInputStatus::haveData || !source || source->frameLength == 0) return false;
    requireShape(*source, from_.channelCount, source->frameLength, "input");
    std::vector<const std::uint8_t*> planes(from_.channelCount);
    for (std::uint32_t c = 0; c < from_.channelCount; ++c) {
      planes[c] = reinterpret_cast<const std::uint8_t*>(source->channels[c].data());
    }
    run(output, planes.data(), static_cast<int>(source->frameLength));
    return true;
  }

  // Output the resampler holds from earlier input, without flushing it (a
  // null input would). After the flush, what the flush left.
  int drainInto(PcmBuffer& output) {
    if (flushed_) return run(output, nullptr, 0);
    float none = 0;
    std::vector<const std::uint8_t*> planes(from_.channelCount, reinterpret_cast<const std::uint8_t*>(&none));
    return run(output, planes.data(), 0);
  }

  int run(PcmBuffer& output, const std::uint8_t** in, int inFrames) {
    std::vector<std::uint8_t*> planes(to_.channelCount);
    for (std::uint32_t c = 0; c < to_.channelCount; ++c) {
      planes[c] = reinterpret_cast<std::uint8_t*>(output.channels[c].data() + output.frameLength);
    }
    int room = static_cast<int>(output.frameCapacity - output.frameLength);
    int produced = swr_convert(context_, planes.data(), room, in, inFrames);
    if (produced < 0) throw libraryError("cannot convert audio", produced);
    output.frameLength += static_cast<std::uint32_t>(produced);
    return produced;
  }

  static void requireShape(const PcmBuffer& buffer, std::uint32_t channels, std::uint32_t frames, const char* role) {
    bool fits = buffer.channels.size() == channels && buffer.frameLength <= buffer.frameCapacity;
    for (const auto& channel : buffer.channels) fits = fits && channel.size() >= frames;
    if (!fits || frames > INT_MAX)
      throw PlatformError(std::string("the ") + role + " buffer does not match the converter");
  }

  SwrContext* context_;
  AudioFormat from_;
  AudioFormat to_;
  bool flushed_ = false;  // endOfStream was answered: drain only
};

}  // namespace

std::unique_ptr<AudioConverter> makeConverter(const AudioFormat& from, const AudioFormat& to) {
  captureLibraryLog();
  if (!convertible(from) || !convertible(to)) return nullptr;
  SwrContext* context = makeContext(from, to);
  if (!context) return nullptr;
  return std::make_unique<FfmpegConverter>(context, from, to);
}

}  // namespace tolva::ffmpeg
