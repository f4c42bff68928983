#pragma once
// The installation request of the model store: installs the catalog models a
// module list lacks, one locale after the other, counting progress in bytes.

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/speech.hpp"
#include "platform/store/catalog/catalog_entry.hpp"
#include "platform/store/install/archive_tools.hpp"
#include "platform/store/state/store_layout.hpp"

namespace tolva::store {

// Progress in archive bytes over all locales of a request. Written by the
// installing thread, read from any other: both counts are atomics.
class ByteProgress final : public InstallProgress {
 public:
  explicit ByteProgress(std::int64_t total) : total_(total) {}
  double fractionCompleted() const override;
  std::int64_t completedUnitCount() const override { return completed_.load(std::memory_order_relaxed); }
  std::int64_t totalUnitCount() const override { return total_; }
  void setCompleted(std::int64_t bytes) { completed_.store(bytes, std::memory_order_relaxed); }

 private:
  const std::int64_t total_;
  std::atomic<std::int64_t> completed_{0};
};

class ModelInstallRequest final : public AssetInstallationRequest {
 public:
  // entries: the models to install, each one a download (not a system model).
  ModelInstallRequest(StoreLayout layout, std::vector<CatalogEntry> entries, ArchiveToolsProvider archiveTools,
                      ModelLoadCheck loadCheck);
  const InstallProgress& progress() const override { return progress_; }
  // Installs every entry in order; throws PlatformError on the first failure.
  // Models installed before the failure stay installed.
  void downloadAndInstall() override;

 private:
  StoreLayout layout_;
  std::vector<CatalogEntry> entries_;
  ArchiveToolsProvider archiveTools_;
  ModelLoadCheck loadCheck_;
  ByteProgress progress_;
};

// The sum of the entries' archive sizes.
std::int64_t totalArchiveBytes(const std::vector<CatalogEntry>& entries);

}  // namespace tolva::store
