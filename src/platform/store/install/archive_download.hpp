#pragma once
// Fetches a model archive with libcurl (https, http or file URLs) into a file,
// hashing it on the way.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace tolva::store {

struct DownloadedArchive {
  std::int64_t bytes = 0;
  std::string sha256;  // lowercase hex
};

// Downloads url into destination, a new file. onBytes gets the running byte
// count as data arrives (on the calling thread). More than maximumBytes is an
// error: a catalog states the size, so a longer body is never the archive.
// Throws PlatformError with curl's description of a failed transfer.
DownloadedArchive downloadArchive(const std::string& url, const std::filesystem::path& destination,
                                  std::int64_t maximumBytes, const std::function<void(std::int64_t)>& onBytes);

}  // namespace tolva::store
