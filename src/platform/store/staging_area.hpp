#pragma once
// The staging area of the store: the work directories of installs and
// removals, and the clean-up of what a killed run left there.
//
// A staging directory is named <identifier>.XXXXXX and only ever used by the
// holder of that locale's lock, so one whose lock is free is a leftover.

#include <filesystem>

#include "locale/locale.hpp"
#include "platform/store/store_layout.hpp"

namespace tolva::store {

// A fresh staging directory, removed with its contents when the object goes.
// The caller holds the locale's lock.
class StagingDir {
 public:
  // Throws PlatformError when the directory cannot be made.
  StagingDir(const StoreLayout& layout, const Locale& locale);
  ~StagingDir();
  StagingDir(const StagingDir&) = delete;
  StagingDir& operator=(const StagingDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Moves a locale's installed model out of models/ with one rename, so that it
// is gone at once, then deletes it. The caller holds the locale's lock.
// Throws PlatformError when the rename fails.
void removeInstalledModel(const StoreLayout& layout, const Locale& locale);

// Deletes the staging directories of killed runs and a reservations temp
// file that nobody is writing. Cheap when there is nothing to do: one
// directory listing. Never throws.
void removeLeftovers(const StoreLayout& layout);

}  // namespace tolva::store
