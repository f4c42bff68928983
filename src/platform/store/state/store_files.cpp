#include "platform/store/state/store_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "output/log.hpp"
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

std::optional<std::string> readSmallFile(const fs::path& path, std::size_t maxBytes, LinkPolicy links) {
  // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
  int noFollow = links == LinkPolicy::refuse ? O_NOFOLLOW : 0;
  FdGuard fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | noFollow));
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

bool removeStoreLink(const fs::path& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return false;
  if (unlink(path.c_str()) != 0) return false;
  log("store.linkRemoved", {{"path", path.string()}});
  return true;
}

int openStoreFile(const fs::path& path, int flags, unsigned mode) {
  FdGuard dir(open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return -1;
  std::string name = path.filename().string();
  flags |= O_NOFOLLOW | O_CLOEXEC;
  int fd = openat(dir.get(), name.c_str(), flags, mode);
  if (fd < 0 && errno == ELOOP && (flags & O_CREAT) && removeStoreLink(path)) {
    fd = openat(dir.get(), name.c_str(), flags, mode);
  }
  return fd;  // closing the directory succeeds and leaves errno as the open set it
}

void replaceFile(const fs::path& path, const std::string& content) {
  fs::path temporary = path;
  temporary += ".tmp";
  FdGuard dir(open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) failWrite(temporary, errno);
  std::string name = path.filename().string();
  std::string temporaryName = temporary.filename().string();
  // The caller is the only writer: what is there is a killed writer's
  // leftover, or a link that must not be written through.
  unlinkat(dir.get(), temporaryName.c_str(), 0);
  {
    FdGuard fd(openat(dir.get(), temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.get() < 0) failWrite(temporary, errno);
    if (!writeFully(fd.get(), content.data(), content.size()) || fsync(fd.get()) != 0) {
      int error = errno;
      unlinkat(dir.get(), temporaryName.c_str(), 0);
      failWrite(temporary, error);
    }
  }
  if (renameat(dir.get(), temporaryName.c_str(), dir.get(), name.c_str()) != 0) {
    int error = errno;
    unlinkat(dir.get(), temporaryName.c_str(), 0);
    failWrite(path, error);
  }
  fsync(dir.get());
}

void makeStoreDirectory(const fs::path& dir) {
  removeStoreLink(dir);
  if (mkdir(dir.c_str(), 0755) == 0) return;
  int error = errno;
  struct stat info {};
  if (error == EEXIST && lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return;
  throw PlatformError("cannot create " + dir.string() + ": " + std::strerror(error));
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
