#include "platform/store/install/model_installer.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>

#include "output/log.hpp"
#include "platform/platform_error.hpp"
#include "platform/store/install/staging_area.hpp"
#include "platform/store/state/file_lock.hpp"
#include "platform/store/state/model_manifest.hpp"
#include "platform/store/state/model_read_lease.hpp"
#include "platform/store/state/reservations.hpp"
#include "platform/store/state/store_files.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

// Models compress a few times at most; far more unpacked data than this is
// a decompression bomb, not a model.
std::int64_t maximumUnpackedBytes(std::int64_t archiveBytes) {
  constexpr std::int64_t factor = 20;
  constexpr std::int64_t slack = std::int64_t{256} << 20;
  if (archiveBytes > (std::numeric_limits<std::int64_t>::max() - slack) / factor) {
    return std::numeric_limits<std::int64_t>::max();
  }
  return archiveBytes * factor + slack;
}

FileLock lockLocale(const StoreLayout& layout, const Locale& locale) {
  makeStoreDirectory(layout.locks());  // so that a failed try means a holder
  fs::path path = layout.localeLock(locale);
  if (auto lock = FileLock::tryAcquire(path)) return std::move(*lock);
  log("store.install.waiting", {{"locale", locale.identifier()}, {"reason", "another install holds the lock"}});
  return FileLock::acquire(path);
}

void verify(const CatalogEntry& entry, const DownloadedArchive& archive) {
  std::string subject = "model archive of " + entry.locale.identifier() + " (" + entry.url + "): ";
  if (archive.bytes != entry.size) {
    throw PlatformError(subject + "size mismatch: expected " + std::to_string(entry.size) + " bytes, got " +
                        std::to_string(archive.bytes));
  }
  if (archive.sha256 != entry.sha256) {
    throw PlatformError(subject + "checksum mismatch: expected " + entry.sha256 + " got " + archive.sha256);
  }
}

// The one step that makes the model visible: a rename of the complete,
// manifested directory. A broken directory in the way (it has no manifest)
// is moved aside into the staging directory first. Done under the
// reservations lock and only while the locale holds its slot: a release that
// ran meanwhile found no model to delete, so the new one would stay behind
// without a reservation.
void moveIntoPlace(const StoreLayout& layout, const Locale& locale, const fs::path& staged, const StagingDir& staging) {
  makeStoreDirectory(layout.models());
  fs::path target = layout.modelDir(locale);
  fs::path aside = staging.path() / "replaced";
  // What is in the way may be a released model still being read.
  ModelDirectoryLock readersGone = ModelDirectoryLock::wait(target);
  Reservations(layout).update([&](std::vector<Locale>& reserved) {
    if (!listsLocale(reserved, locale)) {
      throw PlatformError(locale.identifier() + " was released during its install; the downloaded model was discarded");
    }
    if (std::rename(target.c_str(), aside.c_str()) != 0 && errno != ENOENT) {
      throw PlatformError("cannot replace " + target.string() + ": " + std::strerror(errno));
    }
    if (std::rename(staged.c_str(), target.c_str()) != 0) {
      throw PlatformError("cannot move the model into " + target.string() + ": " + std::strerror(errno));
    }
    return false;
  });
  syncDirectory(layout.models());
}

ModelFiles absoluteFiles(const fs::path& model, const ModelFiles& relative) {
  return {(model / relative.acousticModel).string(), (model / relative.languageModel).string(),
          (model / relative.dictionary).string()};
}

void unpack(const ArchiveTools& tools, const ModelLoadCheck& loadCheck, const CatalogEntry& entry,
            const fs::path& archive, const fs::path& model) {
  std::error_code error;
  fs::create_directory(model, error);
  if (error) throw PlatformError("cannot create " + model.string() + ": " + error.message());
  tools.extractArchive(archive, model, maximumUnpackedBytes(entry.size));
  fs::remove(archive, error);  // frees the space before the model moves in
  checkModelFiles(model, entry.files);
  log("store.install.loadCheck", {{"locale", entry.locale.identifier()}});
  loadCheck(absoluteFiles(model, entry.files));
  writeManifest(model, entry, recordModelFiles(model, tools.hashFile));
}

}  // namespace

void installModel(const StoreLayout& layout, const CatalogEntry& entry, const ArchiveToolsProvider& archiveTools,
                  const ModelLoadCheck& loadCheck, const std::function<void(std::int64_t)>& onBytes) {
  if (entry.system) {
    if (systemModelPresent(entry.files)) return;
    throw PlatformError("the " + entry.locale.identifier() +
                        " model comes with the Debian package pocketsphinx-en-us, which is not installed");
  }
  FileLock lock = lockLocale(layout, entry.locale);
  if (readManifest(layout.modelDir(entry.locale))) {
    log("store.install.alreadyInstalled", {{"locale", entry.locale.identifier()}});
    return;
  }
  const ArchiveTools& tools = archiveTools();
  StagingDir staging(layout, entry.locale);
  fs::path archive = staging.path() / "archive";
  log("store.download.begin", {{"locale", entry.locale.identifier()}, {"url", entry.url}, {"size", entry.size}});
  DownloadedArchive downloaded = tools.downloadArchive(entry.url, archive, entry.size, onBytes);
  verify(entry, downloaded);
  fs::path model = staging.path() / "model";
  unpack(tools, loadCheck, entry, archive, model);
  moveIntoPlace(layout, entry.locale, model, staging);
  log("store.install.done", {{"locale", entry.locale.identifier()}, {"path", layout.modelDir(entry.locale).string()}});
}

}  // namespace tolva::store
