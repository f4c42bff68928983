#include "platform/sphinx/decoder/sphinx_library.hpp"

#include <sphinxbase/err.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace tolva::sphinx {
namespace {

void dropLogLine(void*, err_lvl_t, const char*, ...) {}

int forwardedFd = -1;

void forwardErrorLine(void*, err_lvl_t level, const char* format, ...) {
  if (level != ERR_ERROR && level != ERR_FATAL) return;
  // No allocation: this also reports the library's failed allocations.
  char line[1024];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(line, sizeof line - 1, format, arguments);
  va_end(arguments);
  if (length <= 0) return;
  std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(length), sizeof line - 2);
  if (line[size - 1] != '\n') line[size++] = '\n';
  ssize_t ignored = write(forwardedFd, line, size);
  (void)ignored;
}

}  // namespace

std::unique_lock<std::mutex> enterLibrary() {
  static std::once_flag silenced;
  std::call_once(silenced, [] { err_set_callback(dropLogLine, nullptr); });
  static std::mutex globals;
  return std::unique_lock(globals);
}

void forwardLibraryErrors(int fd) {
  auto library = enterLibrary();
  forwardedFd = fd;
  err_set_callback(forwardErrorLine, nullptr);
}

}  // namespace tolva::sphinx
