#pragma once
// The FFmpeg backend as a module the binary loads on first use. FFmpeg and the
// libraries it depends on take tens of milliseconds to load and bind, which
// commands that never touch audio (probe, install, release) must not pay.
// The module takes the seam's types and errors from the binary itself, so
// there is one copy of each.

#include <memory>
#include <string>

#include "platform/audio.hpp"

namespace tolva::ffmpeg {

// The module's file name, in <libdir>/tolva-speech/ or beside the binary.
inline constexpr const char* moduleFileName = "tolva-speech-ffmpeg.so";
// The one symbol it exports: a function returning the ModuleApi.
inline constexpr const char* moduleEntryName = "tolvaFfmpegModule";

struct ModuleApi {
  std::unique_ptr<AudioFile> (*openAudioFile)(const std::string& path);
  std::unique_ptr<AudioConverter> (*makeConverter)(const AudioFormat& from, const AudioFormat& to);
  std::unique_ptr<AudioStream> (*openAudioStream)(const AudioStreamRequest& request);
};

using ModuleEntry = const ModuleApi* (*)();

}  // namespace tolva::ffmpeg
