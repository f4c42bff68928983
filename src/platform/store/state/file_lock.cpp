#include "platform/store/state/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/platform_error.hpp"
#include "platform/store/state/store_files.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

// Never through a link at the lock's name, nor blocking on a FIFO there.
int openLockFile(const fs::path& path, int flags) { return openStoreFile(path, flags | O_NONBLOCK); }

}  // namespace

// flock, restarted when a signal interrupts the wait.
int lockFd(int fd, int operation) {
  int result;
  do {
    result = flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

FileLock FileLock::acquire(const fs::path& path) {
  makeDirectories(path.parent_path());  // its failure is the one to report
  int fd = openLockFile(path, O_RDWR | O_CREAT);
  if (fd < 0) {
    throw PlatformError("cannot open the lock file " + path.string() + ": " + std::strerror(errno));
  }
  if (lockFd(fd, LOCK_EX) != 0) {
    int failure = errno;
    close(fd);
    throw PlatformError("cannot lock " + path.string() + ": " + std::strerror(failure));
  }
  return FileLock(fd);
}

std::optional<FileLock> FileLock::tryAcquire(const fs::path& path) {
  mkdir(path.parent_path().c_str(), 0755);  // best effort: a failure shows as a failed open
  int fd = openLockFile(path, O_RDWR | O_CREAT);
  if (fd < 0) return std::nullopt;
  if (lockFd(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return std::nullopt;
  }
  return FileLock(fd);
}

bool FileLock::isHeld(const fs::path& path) {
  int fd = openLockFile(path, O_RDONLY);
  if (fd < 0) return false;
  // A shared probe: it only collides with an exclusive holder.
  bool held = lockFd(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileLock::~FileLock() {
  if (fd_ >= 0) close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace tolva::store
