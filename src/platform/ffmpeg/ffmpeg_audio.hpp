#pragma once
// The FFmpeg audio backend: file decoding (libavformat, libavcodec) and
// sample-rate and channel conversion (libswresample). FFmpeg's own log never
// reaches standard error; its last line becomes part of an error's description.

#include <memory>
#include <string>

#include "platform/audio.hpp"

namespace tolva::ffmpeg {

// Opens any container and codec FFmpeg decodes. The processing format is
// deinterleaved float32 at the file's own rate and channel count; the length
// is the exact number of frames reads will deliver. Throws PlatformError with
// FFmpeg's description when the file cannot be opened or decoded.
std::unique_ptr<AudioFile> openAudioFile(const std::string& path);

// A stream read as it arrives (see stream_input.hpp): a container FFmpeg
// decodes, or raw PCM when the request says how it is laid out. Throws
// PlatformError when the path cannot be opened.
std::unique_ptr<AudioStream> openAudioStream(const AudioStreamRequest& request);

// A streaming converter between two formats, keeping its state across
// convert calls; nullptr when the formats cannot be converted.
std::unique_ptr<AudioConverter> makeConverter(const AudioFormat& from, const AudioFormat& to);

}  // namespace tolva::ffmpeg
