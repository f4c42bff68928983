#include "platform/ffmpeg/stream_input.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform_error.hpp"

namespace tolva::ffmpeg {
namespace {

PlatformError openError(const std::string& path, int error) {
  return PlatformError("cannot open audio stream '" + path + "': " + std::strerror(error));
}

}  // namespace

StreamInput::StreamInput(const std::string& path) {
  fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw openError(path, errno);
  struct stat info {};
  if (fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
    int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    close(fd_);
    throw openError(path, error);
  }
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) {
    int error = errno;
    close(fd_);
    throw openError(path, error);
  }
}

StreamInput::~StreamInput() {
  close(fd_);
  close(wake_);
}

std::ptrdiff_t StreamInput::read(void* into, std::size_t size) {
  if (givenBackRead_ < givenBack_.size() && !cancelled()) {
    std::size_t count = std::min(size, givenBack_.size() - givenBackRead_);
    std::memcpy(into, givenBack_.data() + givenBackRead_, count);
    givenBackRead_ += count;
    return static_cast<std::ptrdiff_t>(count);
  }
  while (!cancelled()) {
    pollfd watched[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw PlatformError(std::string("cannot wait for the audio stream: ") + std::strerror(errno));
    }
    if (watched[1].revents != 0 || cancelled()) break;
    if (watched[0].revents == 0) continue;
    ssize_t count = ::read(fd_, into, size);
    if (count > 0) {
      bytesRead_ += count;
      return count;
    }
    if (count == 0) return ended;
    if (errno == EAGAIN || errno == EINTR) continue;
    throw PlatformError(std::string("cannot read the audio stream: ") + std::strerror(errno));
  }
  return wasCancelled;
}

void StreamInput::giveBack(std::vector<std::uint8_t> bytes) {
  givenBack_ = std::move(bytes);
  givenBackRead_ = 0;
}

void StreamInput::cancel() {
  cancelled_ = true;
  std::uint64_t one = 1;
  // A full counter already wakes the reader; nothing else can fail here.
  [[maybe_unused]] ssize_t written = write(wake_, &one, sizeof one);
}

}  // namespace tolva::ffmpeg
