#include "platform/store/archive_extractor.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform_error.hpp"
#include "platform/store/store_files.hpp"
#include "platform/store/store_layout.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

using ArchiveHandle = std::unique_ptr<archive, decltype(&archive_read_free)>;

[[noreturn]] void refuse(const std::string& name, const std::string& reason) {
  throw PlatformError("the model archive entry '" + name + "' was refused: " + reason);
}

[[noreturn]] void damaged(archive* reader) {
  const char* text = archive_error_string(reader);
  throw PlatformError(std::string("the model archive is damaged: ") + (text ? text : "unknown libarchive error"));
}

std::string entryName(archive_entry* entry) {
  const char* name = archive_entry_pathname(entry);
  if (!name) name = archive_entry_pathname_utf8(entry);
  if (!name) refuse("", "its name cannot be read");
  return name;
}

// The entry's path under the destination; nothing for the archive root ("./").
std::optional<fs::path> checkedPath(const std::string& name, archive_entry* entry) {
  if (!name.empty() && name.front() == '/') refuse(name, "its path is absolute");
  if (archive_entry_hardlink(entry)) refuse(name, "it is a hard link");
  auto type = archive_entry_filetype(entry);
  if (type == AE_IFLNK) refuse(name, "it is a symbolic link");
  if (type != AE_IFREG && type != AE_IFDIR) refuse(name, "it is not a regular file or directory");
  auto relative = safeRelativePath(name);
  if (relative) return relative;
  if (name.find("..") != std::string::npos) refuse(name, "its path leaves the archive root");
  if (type == AE_IFDIR) return std::nullopt;
  refuse(name, "it has no file name");
}

class FileWriter {
 public:
  FileWriter(const fs::path& path, const std::string& name)
      : path_(path), fd_(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644)) {
    if (fd_ < 0 && errno == EEXIST) refuse(name, "it names a file that is already there");
    if (fd_ < 0) fail(errno);
  }
  ~FileWriter() {
    if (fd_ >= 0) close(fd_);
  }
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  void writeAt(const void* data, std::size_t size, std::int64_t offset) {
    if (lseek(fd_, offset, SEEK_SET) < 0 || !writeFully(fd_, static_cast<const char*>(data), size)) fail(errno);
  }
  void finish() {
    if (fsync(fd_) != 0) fail(errno);
  }

 private:
  [[noreturn]] void fail(int error) {
    throw PlatformError("cannot write " + path_.string() + ": " + std::strerror(error));
  }
  fs::path path_;
  int fd_;
};

void extractFile(archive* reader, const std::string& name, const fs::path& path, std::int64_t& budget) {
  FileWriter file(path, name);
  for (;;) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    int status = archive_read_data_block(reader, &block, &size, &offset);
    if (status == ARCHIVE_EOF) break;
    if (status < ARCHIVE_WARN) damaged(reader);
    budget -= static_cast<std::int64_t>(size);
    if (budget < 0) refuse(name, "the archive unpacks to more data than a model can hold");
    file.writeAt(block, size, offset);
  }
  file.finish();
}

void makeDirectories(const fs::path& path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) throw PlatformError("cannot create " + path.string() + ": " + error.message());
}

void extractEntry(archive* reader, archive_entry* entry, const fs::path& destination, std::int64_t& budget) {
  std::string name = entryName(entry);
  auto relative = checkedPath(name, entry);
  if (!relative) return;
  fs::path target = destination / *relative;
  if (archive_entry_filetype(entry) == AE_IFDIR) {
    makeDirectories(target);
    return;
  }
  makeDirectories(target.parent_path());
  extractFile(reader, name, target, budget);
}

}  // namespace

void extractArchive(const fs::path& archivePath, const fs::path& destination, std::int64_t maximumBytes) {
  ArchiveHandle reader(archive_read_new(), &archive_read_free);
  if (!reader) throw PlatformError("libarchive could not start reading the model archive");
  archive_read_support_filter_all(reader.get());
  archive_read_support_format_all(reader.get());
  if (archive_read_open_filename(reader.get(), archivePath.c_str(), 64 * 1024) != ARCHIVE_OK) damaged(reader.get());
  std::int64_t budget = maximumBytes;
  for (;;) {
    archive_entry* entry = nullptr;
    int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) break;
    if (status < ARCHIVE_WARN) damaged(reader.get());
    extractEntry(reader.get(), entry, destination, budget);
  }
}

}  // namespace tolva::store
