#include "platform/store/install/staging_area.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "output/log.hpp"
#include "platform/platform_error.hpp"
#include "platform/store/state/file_lock.hpp"
#include "platform/store/state/model_read_lease.hpp"
#include "platform/store/state/store_files.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

void removeTree(const fs::path& path) {
  std::error_code error;
  fs::remove_all(path, error);
  if (error) log("store.removeFailed", {{"path", path.string()}, {"error", error.message()}});
}

// The identifier a staging entry belongs to: its name up to the first dot.
std::string stagingOwner(const fs::path& entry) {
  std::string name = entry.filename().string();
  return name.substr(0, name.find('.'));
}

void removeStagingLeftover(const StoreLayout& layout, const fs::path& entry) {
  std::string owner = stagingOwner(entry);
  if (!isStoreIdentifier(owner)) {
    removeTree(entry);  // not a name the store makes: nobody can be using it
    return;
  }
  auto lock = FileLock::tryAcquire(layout.lockForIdentifier(owner));
  if (!lock) return;  // a live install or removal: not a leftover
  log("store.leftoverRemoved", {{"path", entry.string()}});
  removeTree(entry);
}

void removeReservationsTemporary(const StoreLayout& layout) {
  fs::path temporary = layout.reservations();
  temporary += ".tmp";
  std::error_code error;
  if (!fs::exists(fs::symlink_status(temporary, error))) return;
  auto lock = FileLock::tryAcquire(layout.reservationsLock());
  if (!lock) return;
  log("store.leftoverRemoved", {{"path", temporary.string()}});
  fs::remove(temporary, error);
}

// Links where the store's own directories belong, so that nothing after
// this goes through one: above all, the cleaning below never empties a
// link's target.
void removeLinksInPlaceOfDirectories(const StoreLayout& layout) {
  for (const fs::path& dir : {layout.staging(), layout.models(), layout.locks()}) removeStoreLink(dir);
  std::error_code error;
  for (fs::directory_iterator it(layout.models(), error), end; !error && it != end; it.increment(error)) {
    if (it->is_symlink(error)) removeStoreLink(it->path());
  }
}

}  // namespace

StagingDir::StagingDir(const StoreLayout& layout, const Locale& locale) {
  makeDirectories(layout.root);
  makeStoreDirectory(layout.staging());
  std::string pattern = (layout.staging() / (locale.identifier() + ".XXXXXX")).string();
  if (!mkdtemp(pattern.data())) {
    throw PlatformError("cannot create a staging directory in " + layout.staging().string() + ": " +
                        std::strerror(errno));
  }
  path_ = pattern;
}

StagingDir::~StagingDir() { removeTree(path_); }

void removeLeftovers(const StoreLayout& layout) {
  removeLinksInPlaceOfDirectories(layout);
  std::error_code error;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(layout.staging(), error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  for (const fs::path& entry : entries) removeStagingLeftover(layout, entry);
  removeReservationsTemporary(layout);
  std::vector<std::string> models;
  for (fs::directory_iterator it(layout.models(), error), end; !error && it != end; it.increment(error)) {
    models.push_back(it->path().filename().string());
  }
  for (const std::string& identifier : models) removeRetiredModel(layout, identifier);
}

}  // namespace tolva::store
