#include "output/emit.hpp"

#include <unistd.h>

#include "output/fd_write.hpp"
#include "output/json_writer.hpp"
#include "output/log.hpp"

namespace tolva {

void emitDocument(const JsonValue& document) {
  auto text = writeJsonPretty(document);
  if (!text) {
    writeAll(stdoutFd, encodeFailedText);
    return;
  }
  writeAll(stdoutFd, *text);
  writeAll(stdoutFd, "\n");
}

void fail(const std::string& code, const std::string& message, std::optional<std::string> detail) {
  log("fatal", {{"code", code}, {"message", message}});
  emit(ErrorOut{code, message, std::move(detail)});
  // _exit: other threads may still be running; no static destructor may race them.
  _exit(1);
}

}  // namespace tolva
