#pragma once
// Audio streams over a StreamInput: a container FFmpeg demuxes and decodes
// from a non-seekable custom I/O context, or raw PCM taken as it comes.

#include <memory>

#include "platform/audio.hpp"
#include "platform/ffmpeg/stream_input.hpp"

namespace tolva::ffmpeg {

std::unique_ptr<AudioStream> makeContainerStream(std::shared_ptr<StreamInput> input);
std::unique_ptr<AudioStream> makeRawPcmStream(std::shared_ptr<StreamInput> input, const RawPcmFormat& format);

}  // namespace tolva::ffmpeg
