#include "platform/store/catalog/catalog.hpp"

#include <algorithm>
#include <exception>

#include "output/log.hpp"
#include "platform/store/state/store_files.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t maximumCatalogFileBytes = 1 << 20;

// The *.json files of a directory in name order; none when it is missing.
std::vector<fs::path> catalogFiles(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    if (path.extension() == ".json" && it->is_regular_file(error)) files.push_back(path);
  }
  std::sort(files.begin(), files.end());
  return files;
}

void logIgnoredFile(const fs::path& file, const std::string& reason) {
  log("store.catalogFileIgnored", {{"path", file.string()}, {"error", reason}});
}

}  // namespace

Catalog Catalog::load(const StoreLayout& layout) {
  Catalog catalog;
  catalog.entries_.push_back(builtInEnglishEntry());
  for (const fs::path& dir : layout.catalogDirs) catalog.loadDirectory(dir);
  return catalog;
}

void Catalog::loadDirectory(const fs::path& dir) {
  for (const fs::path& file : catalogFiles(dir)) loadFile(file);
}

void Catalog::loadFile(const fs::path& file) {
  auto text = readSmallFile(file, maximumCatalogFileBytes, LinkPolicy::follow);
  if (!text) {
    logIgnoredFile(file, "unreadable or larger than 1 MiB");
    return;
  }
  std::vector<CatalogEntry> parsed;
  try {
    parsed = parseCatalogFile(*text);
  } catch (const std::exception& error) {
    logIgnoredFile(file, error.what());
    return;
  }
  for (CatalogEntry& entry : parsed) add(std::move(entry), file);
}

void Catalog::add(CatalogEntry entry, const fs::path& file) {
  auto same = std::find_if(entries_.begin(), entries_.end(),
                           [&](const CatalogEntry& known) { return sameLocale(known.locale, entry.locale); });
  if (same == entries_.end()) {
    entries_.push_back(std::move(entry));
  } else if (same->system && !systemModelPresent(same->files)) {
    *same = std::move(entry);  // the package is missing: download instead
  } else {
    log("store.catalogEntryIgnored",
        {{"path", file.string()}, {"locale", entry.locale.identifier()}, {"reason", "locale listed before"}});
  }
}

const CatalogEntry* Catalog::find(const Locale& locale) const {
  auto key = locale.sameLocaleKey();
  for (const CatalogEntry& entry : entries_) {
    if (entry.locale.sameLocaleKey() == key) return &entry;
  }
  return nullptr;
}

const CatalogEntry* Catalog::findEquivalent(const Locale& locale) const {
  // Likely subtags would turn a request without a language into English.
  if (!locale.hasLanguage()) return nullptr;
  auto key = locale.maximized().sameLocaleKey();
  for (const CatalogEntry& entry : entries_) {
    if (entry.locale.maximized().sameLocaleKey() == key) return &entry;
  }
  return nullptr;
}

}  // namespace tolva::store
