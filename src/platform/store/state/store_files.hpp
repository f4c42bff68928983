#pragma once
// File helpers of the model store: reading a small file, replacing one
// atomically, making directories and flushing a directory entry to disk.

#include <filesystem>
#include <optional>
#include <string>

namespace tolva::store {

// The contents of a file of at most maxBytes, or nothing when it is missing,
// unreadable or larger.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes = 1 << 20);

// Replaces path with content: writes path + ".tmp", fsyncs it, renames it over
// path and fsyncs the directory, so a reader sees the old or the new file and
// never a part. The caller holds a lock that makes it the only writer of path.
// Throws PlatformError naming the file and the system's reason.
void replaceFile(const std::filesystem::path& path, const std::string& content);

// fsync of a directory, so that a rename inside it survives a power cut.
// Best effort: failures are ignored.
void syncDirectory(const std::filesystem::path& dir);

// Creates a directory and its missing parents. Throws PlatformError naming
// the directory and the reason the first mkdir failed.
void makeDirectories(const std::filesystem::path& dir);

// Writes all of data to fd; false on an error (errno set).
bool writeFully(int fd, const char* data, std::size_t size);

}  // namespace tolva::store
