#include "platform/store/state/store_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform_error.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void failWrite(const fs::path& path, int error) {
  throw PlatformError("cannot write " + path.string() + ": " + std::strerror(error));
}

// Closes fd on every path out of a function.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::string> readSmallFile(const fs::path& path, std::size_t maxBytes) {
  FdGuard fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string content;
  char buffer[8192];
  for (;;) {
    ssize_t got = read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
    if (content.size() > maxBytes) return std::nullopt;
  }
  return content;
}

bool writeFully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void replaceFile(const fs::path& path, const std::string& content) {
  fs::path temporary = path;
  temporary += ".tmp";
  {
    FdGuard fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) failWrite(temporary, errno);
    if (!writeFully(fd.get(), content.data(), content.size()) || fsync(fd.get()) != 0) {
      int error = errno;
      unlink(temporary.c_str());
      failWrite(temporary, error);
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    unlink(temporary.c_str());
    failWrite(path, error);
  }
  syncDirectory(path.parent_path());
}

void makeDirectories(const fs::path& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error) throw PlatformError("cannot create " + dir.string() + ": " + error.message());
}

void syncDirectory(const fs::path& dir) {
  FdGuard fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) fsync(fd.get());
}

}  // namespace tolva::store
