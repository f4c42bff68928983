#include "output/log_writer.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "output/log.hpp"

namespace tolva {

LogWriter::LogWriter(int fd) : fd_(fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return;
  if (S_ISSOCK(info.st_mode)) {
    mode_ = Mode::socket;
  } else if (S_ISFIFO(info.st_mode)) {
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (own >= 0) {
      fd_ = own;
      mode_ = Mode::ownPipe;
    }
  }
}

LogWriter::~LogWriter() {
  if (mode_ == Mode::ownPipe) ::close(fd_);
}

std::size_t LogWriter::writeNow(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = mode_ == Mode::socket
                          ? ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL)
                          : ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += static_cast<std::size_t>(written);
  }
  return done;
}

bool LogWriter::flushRest() {
  if (rest_.empty()) return true;
  rest_.erase(0, writeNow(rest_));
  return rest_.empty();
}

void LogWriter::write(std::string_view line, double seconds) {
  std::lock_guard lock(mutex_);
  if (!flushRest()) {
    ++dropped_;
    return;
  }
  std::string text;
  if (dropped_ > 0) {
    if (auto notice = logLine(seconds, "log.dropped", {{"lines", dropped_}})) text = std::move(*notice);
  }
  text += line;
  std::size_t written = writeNow(text);
  if (written == 0) {
    ++dropped_;  // nothing left: the notice waits for the next line
  } else if (written < text.size()) {
    dropped_ = 0;
    rest_ = text.substr(written);  // a line begun is finished before any other
  } else {
    dropped_ = 0;
  }
}

std::int64_t LogWriter::droppedLines() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace tolva
