#pragma once
// Readers and removers of an installed model directory, models/<identifier>/.
//
// A reader (a transcription, a dictation preload) holds a shared flock on the
// directory while it loads from its files; decoders load on demand, so that
// is for the whole analysis. A change of the directory (a release, an install
// replacing what is there) takes the flock exclusively. When a release finds
// readers, it retires the model in place instead: the manifest becomes
// released.json, so that the model no longer counts as installed, and its
// files stay where the readers find them. A retired model is deleted by the
// last reader to let go, or by the next store to open.

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/store/model_store.hpp"
#include "platform/store/state/model_file_records.hpp"
#include "platform/store/state/store_layout.hpp"

namespace tolva::store {

// The name a retired model's manifest takes.
inline constexpr const char* retiredManifestName = "released.json";

class StoreModelReadLease final : public ModelReadLease {
 public:
  // A hold on the locale's installed model: nothing when it is not installed
  // (or was released while this looked). Throws PlatformError when the files
  // no longer match what was installed.
  static std::shared_ptr<StoreModelReadLease> acquire(const StoreLayout& layout, const Locale& locale,
                                                      const FileHasher& hash);
  ~StoreModelReadLease() override;

  const ModelFiles& files() const override { return files_; }

  StoreModelReadLease(const StoreModelReadLease&) = delete;
  StoreModelReadLease& operator=(const StoreModelReadLease&) = delete;

 private:
  StoreModelReadLease(StoreLayout layout, Locale locale, int fd, ModelFiles files);

  StoreLayout layout_;
  Locale locale_;
  int fd_;
  ModelFiles files_;
};

// An exclusive flock on a model directory: held, no reader is loading from
// it. An empty lock when the directory is missing.
class ModelDirectoryLock {
 public:
  // Waits for the readers to end.
  static ModelDirectoryLock wait(const std::filesystem::path& modelDir);
  // Nothing when a reader holds the directory.
  static std::optional<ModelDirectoryLock> tryTake(const std::filesystem::path& modelDir);

  ModelDirectoryLock(ModelDirectoryLock&& other) noexcept;
  ModelDirectoryLock& operator=(ModelDirectoryLock&& other) noexcept;
  ModelDirectoryLock(const ModelDirectoryLock&) = delete;
  ModelDirectoryLock& operator=(const ModelDirectoryLock&) = delete;
  ~ModelDirectoryLock();

 private:
  explicit ModelDirectoryLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Retires a model in place, or takes it back into service (when the release
// that retired it could not be completed). Throws PlatformError.
void retireModel(const std::filesystem::path& modelDir);
void unretireModel(const std::filesystem::path& modelDir);

// Deletes the locale's model if it was retired and nobody reads it any more.
// Never throws; a model still read, or a locale whose lock is held, waits for
// a later call.
void removeRetiredModel(const StoreLayout& layout, const std::string& identifier);

}  // namespace tolva::store
