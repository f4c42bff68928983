#pragma once
// The staging area of the store: the work directories of installs and
// removals, and the clean-up of what a killed run left there.
//
// A staging directory is named <identifier>.XXXXXX and only ever used by the
// holder of that locale's lock, so one whose lock is free is a leftover.

#include <filesystem>

#include "locale/locale.hpp"
#include "platform/store/state/store_layout.hpp"

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

// Deletes the staging directories of killed runs, a reservations temp file
// that nobody is writing, and models released while they were read whose
// readers have ended; removes links where the store's own directories
// belong. Cheap when there is nothing to do: two directory listings and a
// few stat calls. Never throws.
void removeLeftovers(const StoreLayout& layout);

}  // namespace tolva::store
