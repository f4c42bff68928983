#pragma once
// File helpers of the model store: reading a small file, replacing one
// atomically, making directories and flushing a directory entry to disk.
//
// The store's root is wherever its path leads; below it, the store never
// follows a symbolic link where it keeps its own directory or file. Such a
// link is removed (the link, never its target) and logged as
// store.linkRemoved; files are opened with O_NOFOLLOW relative to their
// directory, and a FIFO or device is never opened for reading in a way that
// could block.

#include <filesystem>
#include <optional>
#include <string>

namespace tolva::store {

enum class LinkPolicy { refuse, follow };

// The contents of a regular file of at most maxBytes, or nothing when it is
// missing, unreadable, larger, not a regular file (a FIFO is not waited for),
// or a symbolic link that links refuse.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes = 1 << 20,
                                         LinkPolicy links = LinkPolicy::refuse);

// Opens a file of the store relative to its directory, never through a
// symbolic link at its own name: with O_CREAT, a link there is removed
// (logged) and the file made in its place; without, a link fails with ELOOP.
// O_CLOEXEC and O_NOFOLLOW are added to flags. Returns -1 with errno set.
int openStoreFile(const std::filesystem::path& path, int flags, unsigned mode = 0644);

// Makes one of the store's own directories below an existing parent (the
// store root or another of them). A symbolic link in its place is removed
// and logged first. Throws PlatformError naming the directory and the reason.
void makeStoreDirectory(const std::filesystem::path& dir);

// Removes a symbolic link found where the store keeps its own directory or
// file, and logs it: true when there was one.
bool removeStoreLink(const std::filesystem::path& path);

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
