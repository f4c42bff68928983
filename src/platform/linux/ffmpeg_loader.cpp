#include "platform/linux/ffmpeg_loader.hpp"

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "platform/platform_error.hpp"

namespace tolva {
namespace {

const ffmpeg::ModuleApi* loadModule() {
  std::error_code error;
  std::filesystem::path binary = std::filesystem::read_symlink("/proc/self/exe", error);
  std::string path = (binary.parent_path() / ffmpeg::moduleFileName).string();
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
