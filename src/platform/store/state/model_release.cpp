#include "platform/store/state/model_release.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>

#include "output/log.hpp"
#include "platform/platform_error.hpp"
#include "platform/store/state/file_lock.hpp"
#include "platform/store/state/model_manifest.hpp"
#include "platform/store/state/model_read_lease.hpp"
#include "platform/store/install/staging_area.hpp"
#include "platform/store/state/store_files.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

bool modelInstalled(const StoreLayout& layout, const Locale& locale) {
  return readManifest(layout.modelDir(locale)).has_value();
}

bool anythingAt(const fs::path& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

// A model taken out of service: moved out of models/ into a staging
// directory of its locale, to be deleted with it; or, while readers load
// from it, retired in place for the last of them to delete. Put back when
// the release cannot be completed.
class RemovedModel {
 public:
  RemovedModel(const StoreLayout& layout, const Locale& locale)
      : layout_(layout),
        locale_(locale),
        readers_(ModelDirectoryLock::tryTake(layout.modelDir(locale))),
        trash_(layout, locale),
        moved_(trash_.path() / "removed") {
    fs::path model = layout.modelDir(locale);
    if (!readers_) {
      retireModel(model);
      return;
    }
    if (std::rename(model.c_str(), moved_.c_str()) != 0) {
      throw PlatformError("cannot remove the model " + model.string() + ": " + std::strerror(errno));
    }
  }

  bool retired() const { return !readers_; }

  void putBack() {
    fs::path model = layout_.modelDir(locale_);
    try {
      if (retired()) {
        unretireModel(model);
      } else if (std::rename(moved_.c_str(), model.c_str()) != 0) {
        throw PlatformError(std::strerror(errno));
      }
    } catch (const PlatformError& error) {
      log("store.modelLost", {{"locale", locale_.identifier()}, {"error", error.what()}});
    }
  }

 private:
  const StoreLayout& layout_;
  Locale locale_;
  std::optional<ModelDirectoryLock> readers_;  // held until the files are deleted
  StagingDir trash_;
  fs::path moved_;
};

enum class Outcome { notReserved, released, needsLocaleLock };

// One attempt under the reservations lock. The model may only be moved by
// the holder of the locale's lock; without it, an installed model means
// coming back with the lock.
Outcome releaseOnce(const StoreLayout& layout, Reservations& reservations, const Locale& locale, bool holdsLocaleLock,
                    std::optional<RemovedModel>& removed) {
  Outcome outcome = Outcome::notReserved;
  reservations.update([&](std::vector<Locale>& reserved) {
    auto found =
        std::find_if(reserved.begin(), reserved.end(), [&](const Locale& known) { return sameLocale(known, locale); });
    if (found == reserved.end()) return false;
    if (!holdsLocaleLock && modelInstalled(layout, locale)) {
      outcome = Outcome::needsLocaleLock;
      return false;
    }
    if (holdsLocaleLock && anythingAt(layout.modelDir(locale))) removed.emplace(layout, locale);
    reserved.erase(found);
    outcome = Outcome::released;
    return true;
  });
  return outcome;
}

}  // namespace

bool releaseStoreLocale(const StoreLayout& layout, Reservations& reservations, const Locale& locale) {
  std::error_code missing;
  if (!fs::exists(layout.reservations(), missing)) return false;
  std::optional<FileLock> localeLock;
  for (;;) {
    // Nobody holds the lock long while a model is installed: a download only
    // runs while there is none. So this waits for an install's last steps or
    // another removal at most, never for a download.
    if (!localeLock && modelInstalled(layout, locale)) {
      makeStoreDirectory(layout.locks());
      localeLock = FileLock::acquire(layout.localeLock(locale));
    }
    std::optional<RemovedModel> removed;  // its files go with it, still under the locale's lock
    Outcome outcome;
    try {
      outcome = releaseOnce(layout, reservations, locale, localeLock.has_value(), removed);
    } catch (...) {
      if (removed) removed->putBack();
      throw;
    }
    if (outcome == Outcome::needsLocaleLock) continue;  // installed meanwhile
    if (removed && removed->retired()) {
      log("store.modelRetired", {{"locale", locale.identifier()}, {"reason", "a running transcription reads it"}});
    } else if (removed) {
      syncDirectory(layout.models());
      log("store.modelRemoved", {{"locale", locale.identifier()}});
    }
    return outcome == Outcome::released;
  }
}

}  // namespace tolva::store
