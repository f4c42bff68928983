#include "platform/store/model_store.hpp"

#include "platform/platform_error.hpp"
#include "platform/store/catalog/catalog.hpp"
#include "platform/store/install/install_request.hpp"
#include "platform/store/install/staging_area.hpp"
#include "platform/store/state/file_lock.hpp"
#include "platform/store/state/model_manifest.hpp"
#include "platform/store/state/model_read_lease.hpp"
#include "platform/store/state/model_release.hpp"
#include "platform/store/state/reservations.hpp"

namespace tolva::store {
namespace {

// The files of a model nobody removes while it is read.
class PlainModelReadLease final : public ModelReadLease {
 public:
  explicit PlainModelReadLease(ModelFiles files) : files_(std::move(files)) {}
  const ModelFiles& files() const override { return files_; }

 private:
  ModelFiles files_;
};

}  // namespace

std::shared_ptr<const ModelReadLease> ModelStore::readModel(const Locale& locale) {
  std::optional<ModelFiles> files = installedModel(locale);
  if (!files) return nullptr;
  return std::make_shared<PlainModelReadLease>(std::move(*files));
}

namespace {

namespace fs = std::filesystem;

// The store over one layout. Construction reads the catalog files and clears
// leftovers; queries stat a few files and read small JSON files, never a
// model, so that a probe stays fast. All state lives in files guarded by
// flock, and the catalog is immutable, so any thread may call.
class LinuxModelStore final : public ModelStore {
 public:
  LinuxModelStore(StoreLayout layout, ArchiveToolsProvider archiveTools, ModelLoadCheck loadCheck)
      : layout_(std::move(layout)),
        archiveTools_(std::move(archiveTools)),
        loadCheck_(std::move(loadCheck)),
        catalog_(Catalog::load(layout_)),
        reservations_(layout_) {
    removeLeftovers(layout_);
  }

  std::vector<Locale> supportedLocales() override {
    std::vector<Locale> locales;
    for (const CatalogEntry& entry : catalog_.entries()) locales.push_back(entry.locale);
    return locales;
  }

  std::vector<Locale> installedLocales() override {
    std::vector<Locale> locales;
    for (const CatalogEntry& entry : catalog_.entries()) {
      if (isInstalled(entry)) locales.push_back(entry.locale);
    }
    return locales;
  }

  std::optional<Locale> supportedLocale(const Locale& equivalentTo) override {
    const CatalogEntry* entry = catalog_.findEquivalent(equivalentTo);
    if (!entry) return std::nullopt;
    return entry->locale;
  }

  std::optional<ModelFiles> installedModel(const Locale& locale) override {
    const CatalogEntry* entry = catalog_.find(locale);
    if (!entry) return std::nullopt;
    if (entry->system) return systemModelPresent(entry->files) ? std::optional(entry->files) : std::nullopt;
    fs::path dir = layout_.modelDir(entry->locale);
    std::optional<InstalledManifest> manifest = readInstalledManifest(dir);
    if (!manifest) return std::nullopt;
    verifyModelFiles(dir, manifest->records, [this](const fs::path& path) { return archiveTools_().hashFile(path); });
    return manifest->files;
  }

  std::shared_ptr<const ModelReadLease> readModel(const Locale& locale) override {
    const CatalogEntry* entry = catalog_.find(locale);
    if (!entry || entry->system) return ModelStore::readModel(locale);
    return StoreModelReadLease::acquire(layout_, entry->locale,
                                        [this](const fs::path& path) { return archiveTools_().hashFile(path); });
  }

  AssetStatus status(const TranscriberModules& modules) override {
    for (const auto& module : modules) {
      AssetStatus moduleStatus = module ? localeStatus(module->locale()) : AssetStatus::unsupported;
      if (moduleStatus != AssetStatus::installed) return moduleStatus;
    }
    return AssetStatus::installed;
  }

  std::vector<Locale> reservedLocales() override { return reservations_.list(); }

  std::int64_t maximumReservedLocales() override { return Reservations::maximum; }

  bool reserve(const Locale& locale) override {
    const CatalogEntry& entry = supportedEntry(locale);
    // A full store still answers for an installed locale: it is usable
    // without a slot, so asking for one is no error.
    return reservations_.add(entry.locale, isInstalled(entry));
  }

  // Deletes the store's copy of the model with the slot; a system model is
  // never touched.
  bool release(const Locale& locale) override {
    const CatalogEntry* entry = catalog_.find(locale);
    if (!entry || entry->system || !isStoreIdentifier(entry->locale.identifier())) {
      return reservations_.remove(locale);
    }
    return releaseStoreLocale(layout_, reservations_, entry->locale);
  }

  std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const TranscriberModules& modules) override {
    std::vector<CatalogEntry> missing;
    for (const auto& module : modules) {
      if (!module) throw PlatformError("an installation request was asked for an empty transcriber module");
      const CatalogEntry& entry = supportedEntry(module->locale());
      if (isInstalled(entry) || isListed(missing, entry)) continue;
      if (entry.system) {
        throw PlatformError("the " + entry.locale.identifier() +
                            " model comes with the Debian package pocketsphinx-en-us, which is not installed");
      }
      missing.push_back(entry);
    }
    if (missing.empty()) return nullptr;
    return std::make_unique<ModelInstallRequest>(layout_, std::move(missing), archiveTools_, loadCheck_);
  }

 private:
  const CatalogEntry& supportedEntry(const Locale& locale) const {
    const CatalogEntry* entry = catalog_.find(locale);
    if (!entry) throw PlatformError("no model for " + locale.identifier() + " in the model catalog");
    return *entry;
  }

  static bool isListed(const std::vector<CatalogEntry>& entries, const CatalogEntry& entry) {
    for (const CatalogEntry& listed : entries) {
      if (sameLocale(listed.locale, entry.locale)) return true;
    }
    return false;
  }

  bool isInstalled(const CatalogEntry& entry) const {
    if (entry.system) return systemModelPresent(entry.files);
    return readManifest(layout_.modelDir(entry.locale)).has_value();
  }

  AssetStatus localeStatus(const Locale& locale) const {
    const CatalogEntry* entry = catalog_.find(locale);
    if (!entry) return AssetStatus::unsupported;
    if (isInstalled(*entry)) return AssetStatus::installed;
    if (!entry->system && FileLock::isHeld(layout_.localeLock(entry->locale))) return AssetStatus::downloading;
    return AssetStatus::supported;
  }

  const StoreLayout layout_;
  const ArchiveToolsProvider archiveTools_;
  const ModelLoadCheck loadCheck_;
  const Catalog catalog_;
  Reservations reservations_;
};

}  // namespace

std::unique_ptr<ModelStore> makeModelStore(ArchiveToolsProvider archiveTools, ModelLoadCheck loadCheck) {
  return std::make_unique<LinuxModelStore>(storeLayoutFromEnvironment(), std::move(archiveTools), std::move(loadCheck));
}

}  // namespace tolva::store
