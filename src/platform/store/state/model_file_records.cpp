#include "platform/store/state/model_file_records.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform_error.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

std::int64_t changedNs(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
}

[[noreturn]] void damaged(const ModelFileRecord& record, const std::string& what) {
  throw PlatformError("the installed model was changed after its install: " + record.path + " " + what +
                      "; release the locale and install it again");
}

}  // namespace

std::vector<ModelFileRecord> recordModelFiles(const fs::path& modelDir, const FileHasher& hash) {
  std::vector<ModelFileRecord> records;
  std::error_code error;
  for (fs::recursive_directory_iterator it(modelDir, error), end; !error && it != end; it.increment(error)) {
    struct stat info {};
    if (lstat(it->path().c_str(), &info) != 0) {
      throw PlatformError("cannot inspect " + it->path().string() + ": " + std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) continue;
    if (!S_ISREG(info.st_mode)) throw PlatformError(it->path().string() + " is not a regular file");
    records.push_back({fs::relative(it->path(), modelDir).string(), static_cast<std::int64_t>(info.st_size),
                       hash(it->path()), changedNs(info)});
  }
  if (error) throw PlatformError("cannot list " + modelDir.string() + ": " + error.message());
  std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return records;
}

void verifyModelFiles(const fs::path& modelDir, const std::vector<ModelFileRecord>& records, const FileHasher& hash) {
  for (const ModelFileRecord& record : records) {
    fs::path path = modelDir / record.path;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) damaged(record, std::string("cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) damaged(record, "is no longer a regular file");
    if (info.st_size != record.size) {
      damaged(record, "has " + std::to_string(info.st_size) + " bytes instead of " + std::to_string(record.size));
    }
    if (changedNs(info) == record.changedNs) continue;
    if (hash(path) != record.sha256) damaged(record, "has other contents (SHA-256)");
  }
}

}  // namespace tolva::store
