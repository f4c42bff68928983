#include "platform/sphinx/decoder/sphinx_library.hpp"

#include <sphinxbase/err.h>

namespace tolva::sphinx {
namespace {

void dropLogLine(void*, err_lvl_t, const char*, ...) {}

}  // namespace

std::unique_lock<std::mutex> enterLibrary() {
  static std::once_flag silenced;
  std::call_once(silenced, [] { err_set_callback(dropLogLine, nullptr); });
  static std::mutex globals;
  return std::unique_lock(globals);
}

}  // namespace tolva::sphinx
