#pragma once
// FileLock: an exclusive flock(2) on a lock file, held until the object goes.
// flock belongs to the open file description, so two FileLocks on one path
// exclude each other between threads of one process as well as between
// processes, and the kernel drops the lock when its holder dies.

#include <filesystem>
#include <optional>

namespace tolva::store {

// flock(2) on an open descriptor, restarted when a signal interrupts the
// wait: 0, or -1 with errno set.
int lockFd(int fd, int operation);

class FileLock {
 public:
  // Waits for the lock. Creates the lock file and its directory when missing;
  // throws PlatformError naming the first step that failed.
  static FileLock acquire(const std::filesystem::path& path);
  // The lock when nobody holds it; nothing when someone does or the file
  // cannot be opened (a leftover stays for a later run).
  static std::optional<FileLock> tryAcquire(const std::filesystem::path& path);
  // Whether someone holds the lock right now. Creates nothing: a missing lock
  // file is a free lock.
  static bool isHeld(const std::filesystem::path& path);

  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace tolva::store
