#include "platform/store/install/install_request.hpp"

#include <algorithm>
#include <limits>

#include "platform/store/install/model_installer.hpp"

namespace tolva::store {

double ByteProgress::fractionCompleted() const {
  if (total_ <= 0) return 0;
  double fraction = static_cast<double>(completedUnitCount()) / static_cast<double>(total_);
  return std::clamp(fraction, 0.0, 1.0);
}

std::int64_t totalArchiveBytes(const std::vector<CatalogEntry>& entries) {
  std::int64_t total = 0;
  for (const CatalogEntry& entry : entries) {
    total = entry.size > std::numeric_limits<std::int64_t>::max() - total ? std::numeric_limits<std::int64_t>::max()
                                                                          : total + entry.size;
  }
  return total;
}

ModelInstallRequest::ModelInstallRequest(StoreLayout layout, std::vector<CatalogEntry> entries,
                                         ArchiveToolsProvider archiveTools, ModelLoadCheck loadCheck)
    : layout_(std::move(layout)),
      entries_(std::move(entries)),
      archiveTools_(std::move(archiveTools)),
      loadCheck_(std::move(loadCheck)),
      progress_(totalArchiveBytes(entries_)) {}

void ModelInstallRequest::downloadAndInstall() {
  std::int64_t before = 0;  // bytes of the entries already done
  for (const CatalogEntry& entry : entries_) {
    installModel(layout_, entry, archiveTools_, loadCheck_,
                 [&](std::int64_t bytes) { progress_.setCompleted(before + bytes); });
    // Also when another process did the download while this one waited.
    before = std::min(before + entry.size, progress_.totalUnitCount());
    progress_.setCompleted(before);
  }
}

}  // namespace tolva::store
