#include "platform/store/install/archive_extractor.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_error.hpp"
#include "platform/store/state/store_files.hpp"

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

// A name inside the archive with its "." and inner ".." resolved: nothing
// when it would leave the archive root. Resolving by name alone is right
// because no entry can be a symbolic link: every directory on the way is one.
std::optional<fs::path> resolvedPath(std::string_view name) {
  std::vector<std::string_view> parts;
  std::size_t begin = 0;
  while (begin <= name.size()) {
    std::size_t end = std::min(name.find('/', begin), name.size());
    std::string_view part = name.substr(begin, end - begin);
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    begin = end + 1;
  }
  fs::path path;
  for (std::string_view part : parts) path /= std::string(part);
  return path;
}

// The entry's path under the destination; nothing for the archive root ("./").
std::optional<fs::path> checkedPath(const std::string& name, archive_entry* entry) {
  if (!name.empty() && name.front() == '/') refuse(name, "its path is absolute");
  if (name.find('\0') != std::string::npos) refuse(name, "its name holds a NUL");
  auto type = archive_entry_filetype(entry);
  bool hardLink = archive_entry_hardlink(entry) != nullptr;
  if (type == AE_IFLNK && !hardLink) refuse(name, "it is a symbolic link");
  if (!hardLink && type != AE_IFREG && type != AE_IFDIR) refuse(name, "it is not a regular file or directory");
  auto relative = resolvedPath(name);
  if (!relative) refuse(name, "its path leaves the archive root");
  if (!relative->empty()) return relative;
  if (type == AE_IFDIR && !hardLink) return std::nullopt;
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

// Every entry costs at least a block on disk, however small it says it is,
// so that an archive of countless empty files is a bomb too.
constexpr std::int64_t entryCost = 4096;

// The unpack budget, charged with what each entry declares before any of its
// data is written, so that a bomb is refused before it fills the disk.
class UnpackBudget {
 public:
  explicit UnpackBudget(std::int64_t bytes) : left_(bytes) {}

  void charge(const std::string& name, std::int64_t bytes) {
    if (bytes < 0 || bytes > left_) refuse(name, "the archive unpacks to more data than a model can hold");
    left_ -= bytes;
  }

 private:
  std::int64_t left_;
};

// The furthest byte an entry declares: its size, or the end of its last
// sparse region when that lies further (a sparse file's apparent size).
std::int64_t declaredExtent(archive_entry* entry) {
  std::int64_t extent = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
  archive_entry_sparse_reset(entry);
  la_int64_t offset = 0;
  la_int64_t length = 0;
  while (archive_entry_sparse_next(entry, &offset, &length) == ARCHIVE_OK) {
    if (offset < 0 || length < 0 || offset > std::numeric_limits<std::int64_t>::max() - length) return -1;
    extent = std::max<std::int64_t>(extent, offset + length);
  }
  return extent;
}

// Writes the entry's data blocks. An entry without a declared size (a zip
// stream) is charged as its data arrives; one with a size never writes past it.
void extractFile(archive* reader, archive_entry* entry, const std::string& name, const fs::path& path,
                 UnpackBudget& budget) {
  std::int64_t declared = declaredExtent(entry);
  bool sized = archive_entry_size_is_set(entry) != 0;
  budget.charge(name, entryCost);
  budget.charge(name, declared);
  FileWriter file(path, name);
  std::int64_t extent = declared;
  for (;;) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    int status = archive_read_data_block(reader, &block, &size, &offset);
    if (status == ARCHIVE_EOF) break;
    if (status < ARCHIVE_WARN) damaged(reader);
    std::int64_t length = static_cast<std::int64_t>(size);
    if (offset < 0 || offset > std::numeric_limits<std::int64_t>::max() - length) damaged(reader);
    if (offset + length > extent) {
      if (sized) refuse(name, "its data reaches past its declared size");
      budget.charge(name, offset + length - extent);
      extent = offset + length;
    }
    file.writeAt(block, size, offset);
  }
  file.finish();
}

// A second name for a regular file unpacked before it, both inside the
// destination. Its data are the file's: a link that brings data of its own
// is refused.
void extractHardLink(archive_entry* entry, const std::string& name, const fs::path& destination, const fs::path& path,
                     UnpackBudget& budget) {
  std::string targetName = archive_entry_hardlink(entry);
  if (!targetName.empty() && targetName.front() == '/') refuse(name, "its link target is absolute");
  auto target = resolvedPath(targetName);
  if (!target || target->empty()) refuse(name, "its link target leaves the archive root");
  if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0) refuse(name, "it is a hard link with data");
  struct stat info {};
  fs::path targetPath = destination / *target;
  if (lstat(targetPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    refuse(name, "its link target is not a file unpacked before it");
  }
  budget.charge(name, entryCost);
  if (link(targetPath.c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) refuse(name, "it names a file that is already there");
    throw PlatformError("cannot link " + path.string() + " to " + targetPath.string() + ": " + std::strerror(errno));
  }
}

void extractEntry(archive* reader, archive_entry* entry, const fs::path& destination, UnpackBudget& budget) {
  std::string name = entryName(entry);
  auto relative = checkedPath(name, entry);
  if (!relative) return;
  fs::path target = destination / *relative;
  if (archive_entry_hardlink(entry)) {
    makeDirectories(target.parent_path());
    extractHardLink(entry, name, destination, target, budget);
    return;
  }
  if (archive_entry_filetype(entry) == AE_IFDIR) {
    budget.charge(name, entryCost);
    makeDirectories(target);
    return;
  }
  makeDirectories(target.parent_path());
  extractFile(reader, entry, name, target, budget);
}

}  // namespace

void extractArchive(const fs::path& archivePath, const fs::path& destination, std::int64_t maximumBytes) {
  ArchiveHandle reader(archive_read_new(), &archive_read_free);
  if (!reader) throw PlatformError("libarchive could not start reading the model archive");
  archive_read_support_filter_all(reader.get());
  archive_read_support_format_all(reader.get());
  if (archive_read_open_filename(reader.get(), archivePath.c_str(), 64 * 1024) != ARCHIVE_OK) damaged(reader.get());
  UnpackBudget budget(maximumBytes);
  for (;;) {
    archive_entry* entry = nullptr;
    int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) break;
    if (status < ARCHIVE_WARN) damaged(reader.get());
    extractEntry(reader.get(), entry, destination, budget);
  }
}

}  // namespace tolva::store
