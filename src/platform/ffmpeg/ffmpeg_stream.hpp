#pragma once
// Audio streams over a StreamInput: a container FFmpeg demuxes and decodes
// from a non-seekable custom I/O context, or raw PCM taken as it comes (up to
// `byteLimit` bytes, when given). makeSniffedStream looks at the stream's
// start when it opens: a plain PCM WAV becomes raw PCM, anything else a
// container.

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/audio.hpp"
#include "platform/ffmpeg/stream_input.hpp"

namespace tolva::ffmpeg {

std::unique_ptr<AudioStream> makeContainerStream(std::shared_ptr<StreamInput> input);
std::unique_ptr<AudioStream> makeRawPcmStream(std::shared_ptr<StreamInput> input, const RawPcmFormat& format,
                                              std::optional<std::uint64_t> byteLimit = std::nullopt);
std::unique_ptr<AudioStream> makeSniffedStream(std::shared_ptr<StreamInput> input);

}  // namespace tolva::ffmpeg
