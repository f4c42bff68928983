#pragma once
// The tool's modules: backends whose libraries take milliseconds to load and
// bind (FFmpeg; PulseAudio; libcurl, libarchive and OpenSSL), kept out of the
// binary so that a command that never uses one does not pay for it. A module
// is a shared object exporting one entry function that returns a pointer to
// its API, found in the install tree of the running binary
// (<bindir>/../<libdir>/tolva-speech/) or, in a build tree, beside it. It takes the seam's types and errors from the
// binary itself, and is never unloaded: what it made lives until _exit.
//
// Each accessor loads its module on first use and keeps it. Throws
// PlatformError naming the module and the loader's reason when it cannot be
// loaded; a later call tries again.
//
// Thread contract: any thread.

#include "platform/ffmpeg/ffmpeg_module.hpp"
#include "platform/pulse/pulse_module.hpp"
#include "platform/store/install/archive_tools.hpp"

namespace tolva {

const ffmpeg::ModuleApi& ffmpegModule();
const pulse::ModuleApi& pulseModule();
const store::ArchiveTools& archiveModule();

}  // namespace tolva
