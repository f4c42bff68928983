#include "platform/store/catalog/catalog_entry.hpp"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/store/state/store_layout.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* systemModelDir = "/usr/share/pocketsphinx/model/en-us";

const json& member(const json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end()) throw CatalogError(std::string("missing \"") + key + "\"");
  return *found;
}

std::string stringMember(const json& object, const char* key) {
  const json& value = member(object, key);
  if (!value.is_string()) throw CatalogError(std::string("\"") + key + "\" is not a string");
  return value.get<std::string>();
}

Locale parseLocale(const json& object) {
  std::string text = stringMember(object, "locale");
  Locale locale(text);
  // A locale without a language ("und-FR", "-deDE") would be matched by its
  // likely subtags as English or as whatever its region suggests.
  if (!isStoreIdentifier(locale.identifier()) || !locale.hasLanguage()) {
    throw CatalogError("\"locale\" is not a locale: " + text);
  }
  return locale;
}

std::string parseUrl(const json& object) {
  std::string url = stringMember(object, "url");
  std::size_t colon = url.find(':');
  std::string scheme = colon == std::string::npos ? "" : lowercased(url.substr(0, colon));
  bool known = scheme == "https" || scheme == "http" || scheme == "file";
  if (!known || url.compare(colon, 3, "://") != 0) {
    throw CatalogError("\"url\" is not an https, http or file URL: " + url);
  }
  return url;
}

std::int64_t parseSize(const json& object) {
  const json& value = member(object, "size");
  if (!value.is_number_integer() || value.get<std::int64_t>() <= 0) {
    throw CatalogError("\"size\" is not a positive whole number of bytes");
  }
  // Beyond any speech model: a download of that much only fills the disk.
  if (value.get<std::int64_t>() > maximumArchiveBytes) {
    throw CatalogError("\"size\" is above the " + std::to_string(maximumArchiveBytes) +
                       " bytes (8 GiB) a model archive may have");
  }
  return value.get<std::int64_t>();
}

std::string parseSha256(const json& object) {
  std::string hex = lowercased(stringMember(object, "sha256"));
  bool valid = hex.size() == 64 && hex.find_first_not_of("0123456789abcdef") == std::string::npos;
  if (!valid) throw CatalogError("\"sha256\" is not 64 hexadecimal digits");
  return hex;
}

std::string parseModelPath(const json& object, const char* key) {
  std::string text = stringMember(object, key);
  auto path = safeRelativePath(text);
  if (!path) throw CatalogError(std::string("\"") + key + "\" is not a path inside the archive: " + text);
  return path->string();
}

CatalogEntry parseEntry(const json& object) {
  if (!object.is_object()) throw CatalogError("an entry is not a JSON object");
  CatalogEntry entry;
  entry.locale = parseLocale(object);
  entry.url = parseUrl(object);
  entry.size = parseSize(object);
  entry.sha256 = parseSha256(object);
  entry.files.acousticModel = parseModelPath(object, "acousticModel");
  entry.files.languageModel = parseModelPath(object, "languageModel");
  entry.files.dictionary = parseModelPath(object, "dictionary");
  return entry;
}

}  // namespace

std::vector<CatalogEntry> parseCatalogFile(const std::string& text) {
  json document = json::parse(text, nullptr, false);
  if (document.is_discarded()) throw CatalogError("not valid JSON");
  std::vector<CatalogEntry> entries;
  if (document.is_array()) {
    for (const json& item : document) entries.push_back(parseEntry(item));
  } else {
    entries.push_back(parseEntry(document));
  }
  return entries;
}

CatalogEntry builtInEnglishEntry() {
  CatalogEntry entry;
  entry.locale = Locale("en_US");
  entry.system = true;
  fs::path dir = systemModelDir;
  entry.files.acousticModel = (dir / "en-us").string();
  entry.files.languageModel = (dir / "en-us.lm.bin").string();
  entry.files.dictionary = (dir / "cmudict-en-us.dict").string();
  return entry;
}

bool systemModelPresent(const ModelFiles& files) {
  std::error_code error;
  return fs::is_directory(files.acousticModel, error) && fs::is_regular_file(files.languageModel, error) &&
         fs::is_regular_file(files.dictionary, error);
}

}  // namespace tolva::store
