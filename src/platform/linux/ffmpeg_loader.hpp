#pragma once
// Finds and loads the FFmpeg module, once: in the install tree of the running
// binary (<bindir>/../<libdir>/tolva-speech/) or, in a build tree, beside it.

#include "platform/ffmpeg/ffmpeg_module.hpp"

namespace tolva {

// The loaded module's functions. Throws PlatformError naming the module and
// the loader's reason when it cannot be loaded; a later call tries again.
const ffmpeg::ModuleApi& ffmpegModule();

}  // namespace tolva
