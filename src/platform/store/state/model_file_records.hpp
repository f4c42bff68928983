#pragma once
// What an installed model's files were when they were installed: each one's
// size, SHA-256 and change time, kept in its manifest. A model is loaded
// only after its files were compared with these records, because a model
// file damaged after the install can make PocketSphinx end the process.
//
// The comparison costs a stat per file. Hashing the en-us model at every load
// would cost about 30 ms, some 15% of loading it, so a file is hashed again
// only when its change time (which no write can leave as it was) moved.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tolva::store {

struct ModelFileRecord {
  std::string path;  // relative to the model directory
  std::int64_t size = 0;
  std::string sha256;          // lowercase hex
  std::int64_t changedNs = 0;  // st_ctim in nanoseconds since the epoch
};

// SHA-256 of a file, lowercase hex; throws PlatformError.
using FileHasher = std::function<std::string(const std::filesystem::path&)>;

// Records every regular file under modelDir. Throws PlatformError when a file
// cannot be read or something other than a directory or a regular file is
// there.
std::vector<ModelFileRecord> recordModelFiles(const std::filesystem::path& modelDir, const FileHasher& hash);

// Throws PlatformError naming the first file that is missing, is no longer a
// regular file, or whose size or contents differ from its record.
void verifyModelFiles(const std::filesystem::path& modelDir, const std::vector<ModelFileRecord>& records,
                      const FileHasher& hash);

}  // namespace tolva::store
