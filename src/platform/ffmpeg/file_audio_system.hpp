#pragma once
// An audio system of files and conversion through FFmpeg linked in, with no
// microphone: for the tools that decode files in-process without loading
// the module (the evaluation's decoding tool, the recognition guard).

#include <memory>

#include "platform/audio.hpp"

namespace tolva::ffmpeg {

std::unique_ptr<AudioSystem> makeFileAudioSystem();

}  // namespace tolva::ffmpeg
