#pragma once
// Unpacks a model archive (any tar or zip flavour libarchive reads) into a
// directory, refusing anything that could reach outside it or is not plain
// data: absolute paths, a ".." that leaves the archive root, symbolic links,
// hard links to anything but a file unpacked before them, devices, FIFOs.
// Names are checked here rather than with libarchive's secure-extraction
// flags, which also refuse every entry written under a prefix directory.

#include <cstdint>
#include <filesystem>

namespace tolva::store {

// Extracts archive into destination, an existing empty directory. Each entry
// is charged what it declares (a sparse file its apparent size) and a disk
// block before any of its data is written; more than maximumBytes in all is
// refused (a decompression bomb) before it reaches the disk. Throws
// PlatformError naming the refused entry, or libarchive's description of a
// damaged archive; destination may then hold a part, for the caller to drop.
void extractArchive(const std::filesystem::path& archive, const std::filesystem::path& destination,
                    std::int64_t maximumBytes);

}  // namespace tolva::store
