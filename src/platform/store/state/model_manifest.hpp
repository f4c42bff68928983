#pragma once
// The manifest of an installed model, models/<identifier>/manifest.json:
//   {"format":1,"locale":"de-DE","url":"...","size":41234567,"sha256":"...",
//    "acousticModel":"de-de/acoustic","languageModel":"de-de/de-de.lm.bin",
//    "dictionary":"de-de/de-de.dict"}
// (paths relative to the model directory). It is written after the archive
// was verified and its files checked, and before the directory is renamed
// into place, so queries trust it instead of loading or hashing anything.

#include <filesystem>
#include <optional>

#include "platform/store/catalog/catalog_entry.hpp"

namespace tolva::store {

// Writes the manifest of entry into a staged model directory (fsynced).
void writeManifest(const std::filesystem::path& modelDir, const CatalogEntry& entry);

// The model files of an installed model directory (absolute paths), or
// nothing when it has no readable manifest.
std::optional<ModelFiles> readManifest(const std::filesystem::path& modelDir);

// Checks that an unpacked archive holds the entry's model: the acoustic model
// directory with its parameter files, and a non-empty language model and
// dictionary. Throws PlatformError naming what is missing.
void checkModelFiles(const std::filesystem::path& modelDir, const ModelFiles& relativeFiles);

}  // namespace tolva::store
