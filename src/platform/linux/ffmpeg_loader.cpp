#include "platform/linux/ffmpeg_loader.hpp"

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "platform/platform_error.hpp"

// TOLVA_MODULE_DIR_FROM_BINARY, set by the build from its install directories,
// is where an installed binary finds its modules relative to its own directory
// (../lib/x86_64-linux-gnu/tolva-speech from /usr/bin): a relative path, so a
// tree installed under any prefix, or unpacked anywhere, finds its module.
#ifndef TOLVA_MODULE_DIR_FROM_BINARY
#error "TOLVA_MODULE_DIR_FROM_BINARY must be defined by the build"
#endif

namespace tolva {
namespace {

namespace fs = std::filesystem;

// The module of an installed tree, or else the one beside the binary as a
// build tree has it. /proc/self/exe is the binary's real path, so a symlink
// to it on the PATH leads to the same place.
std::string modulePath() {
  std::error_code error;
  fs::path binaryDir = fs::read_symlink("/proc/self/exe", error).parent_path();
  fs::path installed = binaryDir / TOLVA_MODULE_DIR_FROM_BINARY / ffmpeg::moduleFileName;
  if (fs::exists(installed, error)) return installed.lexically_normal().string();
  return (binaryDir / ffmpeg::moduleFileName).string();
}

const ffmpeg::ModuleApi* loadModule() {
  std::string path = modulePath();
  // Never unloaded: decoders and converters made by it live until _exit.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char* reason = handle ? nullptr : dlerror();
  auto entry = handle ? reinterpret_cast<ffmpeg::ModuleEntry>(dlsym(handle, ffmpeg::moduleEntryName)) : nullptr;
  if (handle && !entry) reason = dlerror();
  const ffmpeg::ModuleApi* api = entry ? entry() : nullptr;
  if (!api) {
    throw PlatformError("the FFmpeg audio module " + path + " could not be loaded: " +
                        (reason ? reason : "it has no entry point"));
  }
  return api;
}

}  // namespace

const ffmpeg::ModuleApi& ffmpegModule() {
  // A throwing initializer leaves the static uninitialized, so the next call retries.
  static const ffmpeg::ModuleApi* api = loadModule();
  return *api;
}

}  // namespace tolva
