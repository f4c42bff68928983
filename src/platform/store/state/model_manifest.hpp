#pragma once
// The manifest of an installed model, models/<identifier>/manifest.json:
//   {"format":1,"locale":"de-DE","url":"...","size":41234567,"sha256":"...",
//    "acousticModel":"de-de/acoustic","languageModel":"de-de/de-de.lm.bin",
//    "dictionary":"de-de/de-de.dict",
//    "files":[{"path":"de-de/acoustic/mdef","size":2959176,"sha256":"...",
//              "changedNs":1765423200123456789},...]}
// (paths relative to the model directory). It is written after the archive
// was verified, its files checked and the model loaded once, and before the
// directory is renamed into place, so status queries trust it instead of
// loading or hashing anything. "files" (model_file_records.hpp) is compared
// with the files before a model is loaded; a manifest without it predates it.

#include <filesystem>
#include <optional>

#include "platform/store/catalog/catalog_entry.hpp"
#include "platform/store/state/model_file_records.hpp"

namespace tolva::store {

// Writes the manifest of entry into a staged model directory (fsynced).
void writeManifest(const std::filesystem::path& modelDir, const CatalogEntry& entry,
                   const std::vector<ModelFileRecord>& records);

struct InstalledManifest {
  ModelFiles files;                      // absolute paths
  std::vector<ModelFileRecord> records;  // empty in a manifest of an older install
};

// The manifest of an installed model directory, or nothing when it has none
// that can be read.
std::optional<InstalledManifest> readInstalledManifest(const std::filesystem::path& modelDir);

// The model files of an installed model directory (absolute paths), or
// nothing when it has no readable manifest.
std::optional<ModelFiles> readManifest(const std::filesystem::path& modelDir);

// Checks that an unpacked archive holds the entry's model: the acoustic model
// directory with its parameter files, and a non-empty language model and
// dictionary. Throws PlatformError naming what is missing.
void checkModelFiles(const std::filesystem::path& modelDir, const ModelFiles& relativeFiles);

}  // namespace tolva::store
