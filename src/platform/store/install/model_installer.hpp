#pragma once
// Installs the model of one catalog entry into the store.

#include <cstdint>
#include <functional>

#include "platform/store/catalog/catalog_entry.hpp"
#include "platform/store/install/archive_tools.hpp"
#include "platform/store/state/store_layout.hpp"

namespace tolva::store {

// Downloads, verifies, unpacks and checks the entry's archive in a staging
// directory, loads the model with loadCheck, records its files in the
// manifest and renames the model into models/<identifier>/ in one step.
// The locale must hold a reservation at that step: when it was released
// meanwhile, the work is discarded and this throws.
//
// Runs under the locale's lock. When another process (or thread) holds it,
// this waits for it and then finds the model installed, so one locale is
// never downloaded twice at once; should that other install fail, this one
// downloads after it. A kill at any point leaves models/ as it was; the
// staging directory it leaves is removed by the next store that opens.
//
// The archive tools are asked for only when there is something to download.
// onBytes gets the downloaded byte count. Throws PlatformError saying what
// went wrong; the store is then unchanged.
void installModel(const StoreLayout& layout, const CatalogEntry& entry, const ArchiveToolsProvider& archiveTools,
                  const ModelLoadCheck& loadCheck, const std::function<void(std::int64_t)>& onBytes);

}  // namespace tolva::store
