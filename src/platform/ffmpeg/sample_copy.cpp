#include "platform/ffmpeg/sample_copy.hpp"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include <cstring>

namespace tolva::ffmpeg {
namespace {

template <class Sample>
Sample load(const std::uint8_t* data, std::size_t index) {
  Sample value;
  std::memcpy(&value, data + index * sizeof(Sample), sizeof(Sample));
  return value;
}

float sampleAt(AVSampleFormat packedFormat, const std::uint8_t* data, std::size_t index) {
  switch (packedFormat) {
    case AV_SAMPLE_FMT_U8:
      return (static_cast<float>(data[index]) - 128.0f) / 128.0f;
    case AV_SAMPLE_FMT_S16:
      return static_cast<float>(load<std::int16_t>(data, index)) / 32768.0f;
    case AV_SAMPLE_FMT_S32:
      return static_cast<float>(static_cast<double>(load<std::int32_t>(data, index)) / 2147483648.0);
    case AV_SAMPLE_FMT_S64:
      return static_cast<float>(static_cast<double>(load<std::int64_t>(data, index)) / 9223372036854775808.0);
    case AV_SAMPLE_FMT_FLT:
      return load<float>(data, index);
    case AV_SAMPLE_FMT_DBL:
      return static_cast<float>(load<double>(data, index));
    default:
      return 0.0f;
  }
}

}  // namespace

bool canCopySamples(const AVFrame& frame) {
  switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(frame.format))) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S64:
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_DBL:
      return true;
    default:
      return false;
  }
}

void copySamples(const AVFrame& frame, int from, int count, PcmBuffer& buffer, std::uint32_t at) {
  auto format = static_cast<AVSampleFormat>(frame.format);
  AVSampleFormat packed = av_get_packed_sample_fmt(format);
  bool planar = av_sample_fmt_is_planar(format);
  auto channels = static_cast<std::size_t>(frame.ch_layout.nb_channels);
  for (std::size_t channel = 0; channel < channels; ++channel) {
    const std::uint8_t* data = planar ? frame.extended_data[channel] : frame.extended_data[0];
    float* out = buffer.channels[channel].data() + at;
    for (int i = 0; i < count; ++i) {
      auto frameIndex = static_cast<std::size_t>(from + i);
      out[i] = sampleAt(packed, data, planar ? frameIndex : frameIndex * channels + channel);
    }
  }
}

}  // namespace tolva::ffmpeg
