#include "platform/store/state/model_read_lease.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "output/log.hpp"
#include "platform/platform_error.hpp"
#include "platform/store/install/staging_area.hpp"
#include "platform/store/state/file_lock.hpp"
#include "platform/store/state/model_manifest.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

constexpr const char* manifestFileName = "manifest.json";  // as model_manifest writes it

int openModelDir(const fs::path& modelDir) {
  return open(modelDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Whether the open directory is still the one at modelDir: a remover may
// have moved it between the open and the lock.
bool stillAt(int fd, const fs::path& modelDir) {
  struct stat opened {};
  struct stat there {};
  return fstat(fd, &opened) == 0 && lstat(modelDir.c_str(), &there) == 0 && opened.st_dev == there.st_dev &&
         opened.st_ino == there.st_ino;
}

bool isRetired(const fs::path& modelDir) {
  struct stat info {};
  return lstat((modelDir / retiredManifestName).c_str(), &info) == 0;
}

}  // namespace

std::shared_ptr<StoreModelReadLease> StoreModelReadLease::acquire(const StoreLayout& layout, const Locale& locale,
                                                                  const FileHasher& hash) {
  fs::path modelDir = layout.modelDir(locale);
  int fd = openModelDir(modelDir);
  if (fd < 0) return nullptr;
  // Shared: readers never wait for each other; a remover's hold is short.
  if (lockFd(fd, LOCK_SH) != 0 || !stillAt(fd, modelDir)) {
    close(fd);
    return nullptr;
  }
  std::optional<InstalledManifest> manifest = readInstalledManifest(modelDir);
  if (!manifest) {
    close(fd);
    return nullptr;
  }
  // Held before the check, so that a failing check lets go of the lock too.
  std::shared_ptr<StoreModelReadLease> lease(new StoreModelReadLease(layout, locale, fd, std::move(manifest->files)));
  verifyModelFiles(modelDir, manifest->records, hash);
  return lease;
}

StoreModelReadLease::StoreModelReadLease(StoreLayout layout, Locale locale, int fd, ModelFiles files)
    : layout_(std::move(layout)), locale_(std::move(locale)), fd_(fd), files_(std::move(files)) {}

StoreModelReadLease::~StoreModelReadLease() {
  close(fd_);  // lets go of the shared lock
  // The last reader of a model released meanwhile deletes it.
  if (isRetired(layout_.modelDir(locale_))) removeRetiredModel(layout_, locale_.identifier());
}

ModelDirectoryLock ModelDirectoryLock::wait(const fs::path& modelDir) {
  int fd = openModelDir(modelDir);
  if (fd >= 0 && lockFd(fd, LOCK_EX) != 0) {
    close(fd);
    fd = -1;
  }
  return ModelDirectoryLock(fd);
}

std::optional<ModelDirectoryLock> ModelDirectoryLock::tryTake(const fs::path& modelDir) {
  int fd = openModelDir(modelDir);
  if (fd >= 0 && lockFd(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return std::nullopt;
  }
  return ModelDirectoryLock(fd);
}

ModelDirectoryLock::ModelDirectoryLock(ModelDirectoryLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ModelDirectoryLock& ModelDirectoryLock::operator=(ModelDirectoryLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

ModelDirectoryLock::~ModelDirectoryLock() {
  if (fd_ >= 0) close(fd_);
}

void retireModel(const fs::path& modelDir) {
  fs::path manifest = modelDir / manifestFileName;
  if (std::rename(manifest.c_str(), (modelDir / retiredManifestName).c_str()) != 0) {
    throw PlatformError("cannot retire the model " + modelDir.string() + ": " + std::strerror(errno));
  }
}

void unretireModel(const fs::path& modelDir) {
  fs::path manifest = modelDir / manifestFileName;
  if (std::rename((modelDir / retiredManifestName).c_str(), manifest.c_str()) != 0) {
    throw PlatformError("cannot put the model " + modelDir.string() + " back: " + std::strerror(errno));
  }
}

void removeRetiredModel(const StoreLayout& layout, const std::string& identifier) {
  fs::path modelDir = layout.models() / identifier;
  if (!isStoreIdentifier(identifier) || !isRetired(modelDir)) return;
  try {
    auto localeLock = FileLock::tryAcquire(layout.lockForIdentifier(identifier));
    if (!localeLock) return;  // an install or removal of the locale is under way
    auto readers = ModelDirectoryLock::tryTake(modelDir);
    if (!readers || !isRetired(modelDir)) return;
    StagingDir trash(layout, Locale(identifier));  // deletes what moves into it when it goes
    fs::path aside = trash.path() / "removed";
    if (std::rename(modelDir.c_str(), aside.c_str()) != 0) return;
    log("store.modelRemoved", {{"locale", identifier}, {"reason", "released while it was read"}});
  } catch (...) {
    // Left for a later run.
  }
}

}  // namespace tolva::store
