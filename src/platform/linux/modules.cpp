#include "platform/linux/modules.hpp"

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "platform/linux/module_file_check.hpp"
#include "platform/platform_error.hpp"

// TOLVA_MODULE_DIR_FROM_BINARY, set by the build from its install directories,
// is where an installed binary finds its modules relative to its own directory
// (../lib/x86_64-linux-gnu/tolva-speech from /usr/bin): a relative path, so a
// tree installed under any prefix, or unpacked anywhere, finds them.
#ifndef TOLVA_MODULE_DIR_FROM_BINARY
#error "TOLVA_MODULE_DIR_FROM_BINARY must be defined by the build"
#endif

namespace tolva {
namespace {

namespace fs = std::filesystem;

// The module of an installed tree, or else the one beside the binary as a
// build tree has it. /proc/self/exe is the binary's real path, so a symlink
// to it on the PATH leads to the same place.
std::string modulePath(const char* fileName) {
  std::error_code error;
  fs::path binaryDir = fs::read_symlink("/proc/self/exe", error).parent_path();
  fs::path installed = binaryDir / TOLVA_MODULE_DIR_FROM_BINARY / fileName;
  if (fs::exists(installed, error)) return installed.lexically_normal().string();
  return (binaryDir / fileName).string();
}

// The one loader of every module, so that where modules are looked for is
// decided in one place.
void* moduleEntry(const char* fileName, const char* entryName, const char* description) {
  std::string path = modulePath(fileName);
  if (auto problem = moduleFileProblem(path)) {
    throw PlatformError(std::string("the ") + description + " module " + path + " could not be loaded: " + *problem);
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char* reason = handle ? nullptr : dlerror();
  void* entry = handle ? dlsym(handle, entryName) : nullptr;
  if (handle && !entry) reason = dlerror();
  if (!entry) {
    throw PlatformError(std::string("the ") + description + " module " + path +
                        " could not be loaded: " + (reason ? reason : "it has no entry point"));
  }
  return entry;
}

template <class Api>
const Api& loadModule(const char* fileName, const char* entryName, const char* description) {
  using Entry = const Api* (*)();
  const Api* api = reinterpret_cast<Entry>(moduleEntry(fileName, entryName, description))();
  if (!api) throw PlatformError(std::string("the ") + description + " module " + fileName + " gave no functions");
  return *api;
}

}  // namespace

// A throwing initializer leaves its static uninitialized, so the next call retries.

const ffmpeg::ModuleApi& ffmpegModule() {
  static const ffmpeg::ModuleApi& api =
      loadModule<ffmpeg::ModuleApi>(ffmpeg::moduleFileName, ffmpeg::moduleEntryName, "FFmpeg audio");
  return api;
}

const pulse::ModuleApi& pulseModule() {
  static const pulse::ModuleApi& api =
      loadModule<pulse::ModuleApi>(pulse::moduleFileName, pulse::moduleEntryName, "PulseAudio capture");
  return api;
}

const store::ArchiveTools& archiveModule() {
  static const store::ArchiveTools& api =
      loadModule<store::ArchiveTools>(store::archiveModuleFileName, store::archiveModuleEntryName, "model download");
  return api;
}

}  // namespace tolva
