#pragma once
// Catalog: the locales this machine can run, in matching order. The built-in
// en_US system model comes first; then the entries of the catalog files, the
// user's data directory before the system ones and files in name order within
// a directory. The first entry of a locale wins; the built-in one gives way to
// a catalog entry only when its package directory is missing.
// Loaded once and immutable afterwards, so any thread may read it.

#include <filesystem>
#include <vector>

#include "platform/store/catalog/catalog_entry.hpp"
#include "platform/store/state/store_layout.hpp"

namespace tolva::store {

class Catalog {
 public:
  // Reads every catalog file. A malformed file is logged once and skipped;
  // loading never fails.
  static Catalog load(const StoreLayout& layout);

  const std::vector<CatalogEntry>& entries() const { return entries_; }
  // The entry of the same locale (lowercased BCP-47), or nullptr.
  const CatalogEntry* find(const Locale& locale) const;
  // The entry whose locale with likely subtags added equals the request's.
  const CatalogEntry* findEquivalent(const Locale& locale) const;

 private:
  void add(CatalogEntry entry, const std::filesystem::path& file);
  void loadFile(const std::filesystem::path& file);
  void loadDirectory(const std::filesystem::path& dir);

  std::vector<CatalogEntry> entries_;
};

}  // namespace tolva::store
