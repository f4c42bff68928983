#include "platform/ffmpeg/ffmpeg_log.hpp"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace tolva::ffmpeg {
namespace {

// A line may arrive in several calls; it counts once its line feed came.
thread_local std::string pendingLine;
thread_local std::string lastLine;
thread_local LibraryDamage damage;

std::string componentName(void* context) {
  if (!context) return {};
  auto* avClass = *static_cast<AVClass**>(context);
  if (!avClass || !avClass->item_name) return {};
  const char* name = avClass->item_name(context);
  return name ? name : "";
}

std::string trimmed(std::string text) {
  auto end = text.find_last_not_of(" \t\r\n");
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

void record(void* context, int level, const char* format, va_list args) {
  if (level > AV_LOG_WARNING) return;
  char text[1024];
  int written = std::vsnprintf(text, sizeof text, format, args);
  if (written < 0) return;
  if (pendingLine.empty()) {
    std::string component = componentName(context);
    if (!component.empty()) pendingLine = component + ": ";
  }
  pendingLine += text;
  if (pendingLine.back() != '\n') return;
  lastLine = trimmed(std::move(pendingLine));
  pendingLine.clear();
  if (level <= AV_LOG_ERROR) {
    ++damage.errorLines;
    damage.lastErrorLine = lastLine;
  }
}

void onLibraryLog(void* context, int level, const char* format, va_list args) {
  // Never let a formatting surprise escape into C code.
  try {
    record(context, level, format, args);
  } catch (...) {
  }
}

}  // namespace

void captureLibraryLog() {
  static std::once_flag installed;
  std::call_once(installed, [] { av_log_set_callback(onLibraryLog); });
}

void clearLibraryLog() {
  pendingLine.clear();
  lastLine.clear();
}

std::string lastLibraryLogLine() { return lastLine; }

LibraryDamage libraryDamage() { return damage; }

std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
  return text;
}

PlatformError libraryError(std::string_view action, int code) {
  std::string description = std::string(action) + ": " + errorText(code);
  std::string detail = lastLibraryLogLine();
  if (!detail.empty()) description += " (" + detail + ")";
  return PlatformError(description);
}

}  // namespace tolva::ffmpeg
