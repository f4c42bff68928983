#include "platform/store/state/model_manifest.hpp"

#include <nlohmann/json.hpp>

#include "output/json_writer.hpp"
#include "platform/platform_error.hpp"
#include "platform/store/state/store_files.hpp"
#include "platform/store/state/store_layout.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* manifestName = "manifest.json";
constexpr std::int64_t manifestFormat = 2;

// The files PocketSphinx reads from every continuous acoustic model.
constexpr const char* acousticModelFiles[] = {"mdef", "means", "variances", "transition_matrices"};

std::optional<fs::path> manifestPath(const fs::path& modelDir, const json& manifest, const char* key) {
  auto value = manifest.find(key);
  if (value == manifest.end() || !value->is_string()) return std::nullopt;
  auto relative = safeRelativePath(value->get<std::string>());
  if (!relative) return std::nullopt;
  return modelDir / *relative;
}

bool nonEmptyFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error) && fs::file_size(path, error) > 0 && !error;
}

void requireFile(const fs::path& path, const std::string& relative, const char* what) {
  if (!nonEmptyFile(path)) {
    throw PlatformError(std::string("the model archive lacks ") + what + " " + relative + " (missing or empty)");
  }
}

JsonValue recordsJson(const std::vector<ModelFileRecord>& records) {
  JsonArray list;
  for (const ModelFileRecord& record : records) {
    list.push_back(JsonValue(JsonObject{{"path", JsonValue(record.path)},
                                        {"size", JsonValue(record.size)},
                                        {"sha256", JsonValue(record.sha256)},
                                        {"changedNs", JsonValue(record.changedNs)}}));
  }
  return JsonValue(std::move(list));
}

// Nothing when any record is malformed or leaves the model directory.
std::optional<std::vector<ModelFileRecord>> parseRecords(const json& manifest) {
  std::vector<ModelFileRecord> records;
  auto files = manifest.find("files");
  if (files == manifest.end()) return records;
  if (!files->is_array()) return std::nullopt;
  for (const json& item : *files) {
    if (!item.is_object()) return std::nullopt;
    auto path = item.find("path");
    auto size = item.find("size");
    auto sha256 = item.find("sha256");
    auto changed = item.find("changedNs");
    if (path == item.end() || !path->is_string() || size == item.end() || !size->is_number_integer() ||
        sha256 == item.end() || !sha256->is_string() || changed == item.end() || !changed->is_number_integer()) {
      return std::nullopt;
    }
    auto relative = safeRelativePath(path->get<std::string>());
    if (!relative) return std::nullopt;
    records.push_back(
        {relative->string(), size->get<std::int64_t>(), sha256->get<std::string>(), changed->get<std::int64_t>()});
  }
  return records;
}

}  // namespace

void writeManifest(const fs::path& modelDir, const CatalogEntry& entry, const std::vector<ModelFileRecord>& records) {
  JsonObject manifest{
      {"format", JsonValue(manifestFormat)},
      {"locale", JsonValue(entry.locale.bcp47())},
      {"url", JsonValue(entry.url)},
      {"size", JsonValue(entry.size)},
      {"sha256", JsonValue(entry.sha256)},
      {"acousticModel", JsonValue(entry.files.acousticModel)},
      {"languageModel", JsonValue(entry.files.languageModel)},
      {"dictionary", JsonValue(entry.files.dictionary)},
      {"files", recordsJson(records)},
  };
  replaceFile(modelDir / manifestName, *writeJsonCompact(JsonValue(std::move(manifest))) + "\n");
}

std::optional<ModelFiles> readManifest(const fs::path& modelDir) {
  auto manifest = readInstalledManifest(modelDir);
  if (!manifest) return std::nullopt;
  return manifest->files;
}

std::optional<InstalledManifest> readInstalledManifest(const fs::path& modelDir) {
  auto text = readSmallFile(modelDir / manifestName);
  if (!text) return std::nullopt;
  json manifest = json::parse(*text, nullptr, false);
  if (manifest.is_discarded() || !manifest.is_object()) return std::nullopt;
  auto acoustic = manifestPath(modelDir, manifest, "acousticModel");
  auto language = manifestPath(modelDir, manifest, "languageModel");
  auto dictionary = manifestPath(modelDir, manifest, "dictionary");
  auto records = parseRecords(manifest);
  if (!acoustic || !language || !dictionary || !records) return std::nullopt;
  return InstalledManifest{{acoustic->string(), language->string(), dictionary->string()}, std::move(*records)};
}

void checkModelFiles(const fs::path& modelDir, const ModelFiles& relativeFiles) {
  fs::path acoustic = modelDir / relativeFiles.acousticModel;
  std::error_code error;
  if (!fs::is_directory(acoustic, error)) {
    throw PlatformError("the model archive lacks the acoustic model directory " + relativeFiles.acousticModel);
  }
  for (const char* name : acousticModelFiles) {
    requireFile(acoustic / name, relativeFiles.acousticModel + "/" + name, "the acoustic model file");
  }
  requireFile(modelDir / relativeFiles.languageModel, relativeFiles.languageModel, "the language model");
  requireFile(modelDir / relativeFiles.dictionary, relativeFiles.dictionary, "the dictionary");
}

}  // namespace tolva::store
