// Fuzz target: model archive extraction into a temporary store. The input is
// an archive (any tar or zip flavour, any compression). It is unpacked into
// the model directory of a staging directory, as an install unpacks it, with
// a budget of maxBytes; an unpacked archive then has its model files checked.
// Whether the archive is taken or refused (PlatformError, nothing else):
//  - nothing exists outside the model directory but the store's own folders;
//  - the model directory holds only directories and regular files, each
//    file's every name inside it (hard links stay among the archive's own
//    files), and their declared sizes add up to at most the budget;
//  - removing the staging directory leaves the staging area empty.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "platform/platform_error.hpp"
#include "platform/store/install/archive_extractor.hpp"
#include "platform/store/state/model_manifest.hpp"
#include "platform/store/install/staging_area.hpp"
#include "support/fuzz_support.hpp"

namespace tolva::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t maxBytes = 1 << 20;

// The model files the seed archives carry, so that the fuzzer reaches the check.
const store::ModelFiles modelFiles{"model/acoustic", "model/model.lm", "model/model.dict"};

bool under(const fs::path& path, const fs::path& dir) {
  auto [end, ignored] = std::mismatch(dir.begin(), dir.end(), path.begin(), path.end());
  return end == dir.end();
}

// Walks the scratch directory without following links.
void checkTree(const fs::path& scratch, const fs::path& staging, const fs::path& model) {
  const std::set<fs::path> storeFolders{scratch / "archive", scratch / "store", scratch / "store" / "staging", staging,
                                        model};
  std::int64_t declared = 0;
  std::map<ino_t, int> names;  // of each file, its names found here
  std::map<ino_t, nlink_t> links;
  std::error_code error;
  for (fs::recursive_directory_iterator it(scratch, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    if (storeFolders.count(path)) continue;
    require(under(path, model), [&] { return "extraction wrote outside the model directory: " + path.string(); });
    struct stat info {};
    require(lstat(path.c_str(), &info) == 0, [&] { return "cannot stat " + path.string(); });
    if (S_ISDIR(info.st_mode)) continue;
    require(S_ISREG(info.st_mode),
            [&] { return "extraction made something that is not a file or directory: " + path.string(); });
    if (++names[info.st_ino] == 1) declared += info.st_size;
    links[info.st_ino] = info.st_nlink;
  }
  require(!error, [&] { return "cannot walk the scratch directory: " + error.message(); });
  for (const auto& [inode, count] : names) {
    require(links[inode] == static_cast<nlink_t>(count),
            "extraction made a hard link to a file outside the model directory");
  }
  require(declared <= maxBytes,
          [&] { return "the unpacked files declare " + std::to_string(declared) + " bytes, over the budget"; });
}

void unpack(const fs::path& scratch, const store::StoreLayout& layout) {
  store::StagingDir staging(layout, Locale("de_DE"));
  fs::path model = staging.path() / "model";
  fs::create_directory(model);
  bool unpacked = false;
  try {
    store::extractArchive(scratch / "archive", model, maxBytes);
    unpacked = true;
  } catch (const PlatformError&) {
  }
  checkTree(scratch, staging.path(), model);
  if (!unpacked) return;
  try {
    store::checkModelFiles(model, modelFiles);
  } catch (const PlatformError&) {
  }
}

}  // namespace
}  // namespace tolva::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tolva::fuzz;
  const fs::path& scratch = scratchDirectory();
  writeFile(scratch / "archive", data, size);
  tolva::store::StoreLayout layout{scratch / "store", {}};
  unpack(scratch, layout);
  std::error_code error;
  require(fs::is_empty(layout.staging(), error) && !error, "the staging directory was not removed");
  return 0;
}
