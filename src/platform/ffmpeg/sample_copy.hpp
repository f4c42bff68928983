#pragma once
// Decoded samples of any FFmpeg sample format into our deinterleaved floats.

#include <cstdint>

#include "platform/audio.hpp"

struct AVFrame;

namespace tolva::ffmpeg {

// True when copySamples can read the frame's sample format.
bool canCopySamples(const AVFrame& frame);

// Copies `count` frames starting at frame `from` of `frame` into `buffer`
// from frame `at` on, as floats in [-1, 1]. The buffer has the frame's
// channel count and room for them.
void copySamples(const AVFrame& frame, int from, int count, PcmBuffer& buffer, std::uint32_t at);

}  // namespace tolva::ffmpeg
