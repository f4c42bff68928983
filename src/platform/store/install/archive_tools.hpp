#pragma once
// ArchiveTools: downloading and unpacking model archives. They need libcurl,
// libarchive and OpenSSL, which take milliseconds to load and which only an
// installation uses, so the shipped binary keeps them in a module loaded on
// first use; a store is handed a way to reach them (ArchiveToolsProvider).

#include <functional>

#include "platform/store/install/archive_download.hpp"
#include "platform/store/install/archive_extractor.hpp"

namespace tolva::store {

// The module's file, next to the binary, and the symbol it exports: a
// function returning the ArchiveTools.
inline constexpr const char* archiveModuleFileName = "tolva-speech-archive.so";
inline constexpr const char* archiveModuleEntryName = "tolvaArchiveModule";

struct ArchiveTools {
  DownloadedArchive (*downloadArchive)(const std::string& url, const std::filesystem::path& destination,
                                       std::int64_t maximumBytes, const std::function<void(std::int64_t)>& onBytes);
  void (*extractArchive)(const std::filesystem::path& archive, const std::filesystem::path& destination,
                         std::int64_t maximumBytes);
  // SHA-256 of a file, lowercase hex; throws PlatformError.
  std::string (*hashFile)(const std::filesystem::path& path);
};

// Called when an installation first needs the tools; may throw PlatformError.
using ArchiveToolsProvider = std::function<const ArchiveTools&()>;

// The tools linked into this program: the module's own, and the tests'.
const ArchiveTools& linkedArchiveTools();

}  // namespace tolva::store
