#pragma once
// Fetches a model archive with libcurl (https, http or file URLs) into a file,
// hashing it on the way.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace tolva::store {

struct DownloadedArchive {
  std::int64_t bytes = 0;
  std::string sha256;  // lowercase hex
};

// How slow a download may be, so that a trickle never holds a locale's lock
// for days: a floor on the rate averaged over a window, and a deadline for the
// whole download of the catalog's size at that floor, plus one window for the
// start.
struct DownloadLimits {
  std::int64_t floorBytesPerSecond = 1024;
  std::chrono::seconds floorWindow{60};
  std::chrono::seconds deadlineSlack{60};

  std::chrono::seconds deadline(std::int64_t size) const;
};

// Downloads url into destination, a new file. onBytes gets the running byte
// count as data arrives (on the calling thread). More than maximumBytes is an
// error: a catalog states the size, so a longer body is never the archive.
// A file URL must name a regular file: a FIFO or a device would block or
// never end. Throws PlatformError with curl's description of a failed
// transfer, or naming the limit a slow one broke (both limits are named).
DownloadedArchive downloadArchive(const std::string& url, const std::filesystem::path& destination,
                                  std::int64_t maximumBytes, const std::function<void(std::int64_t)>& onBytes,
                                  const DownloadLimits& limits);
// The same within the default limits.
DownloadedArchive downloadArchive(const std::string& url, const std::filesystem::path& destination,
                                  std::int64_t maximumBytes, const std::function<void(std::int64_t)>& onBytes);

}  // namespace tolva::store
