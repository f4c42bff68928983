// Fuzz target: the catalog file parser. The input is the text of a catalog
// file. parseCatalogFile throws CatalogError and nothing else, or gives
// entries holding only what the store may use: a store identifier as the
// locale, an https, http or file URL, a positive size of at most 8 GiB, 64 lowercase hex
// digits, and model paths that stay inside the archive. The same text is then
// loaded as a file of a catalog directory: loading never throws, writes one
// JSON log line for a refused file, keeps the built-in en_US first and finds
// every accepted locale.
#include <cstdint>
#include <set>

#include "platform/store/catalog/catalog.hpp"
#include "support/fuzz_support.hpp"

namespace tolva::fuzz {
namespace {

namespace fs = std::filesystem;
using store::CatalogEntry;

bool isLowerHex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Relative, without "." or ".." or empty components, not empty.
bool staysInside(const std::string& path) {
  if (path.empty() || path.front() == '/' || path.back() == '/') return false;
  for (const auto& part : fs::path(path)) {
    if (part.empty() || part == "." || part == "..") return false;
  }
  return path.find("//") == std::string::npos;
}

bool knownUrl(const std::string& url) {
  std::string lower = lowercased(url.substr(0, 8));
  return lower.starts_with("https://") || lower.starts_with("http://") || lower.starts_with("file://");
}

void checkEntry(const CatalogEntry& entry) {
  const std::string& id = entry.locale.identifier();
  require(store::isStoreIdentifier(id), [&] { return "an entry's locale is not a store identifier: " + id; });
  require(entry.locale.hasLanguage(), [&] { return "an entry's locale has no language: " + entry.locale.bcp47(); });
  require(!entry.system, "a catalog file made a system entry");
  require(knownUrl(entry.url), [&] { return "an entry's URL is not https, http or file: " + entry.url; });
  require(entry.size > 0, "an entry's size is not positive");
  require(entry.size <= store::maximumArchiveBytes, "an entry's size is above the largest model archive");
  require(isLowerHex(entry.sha256), "an entry's sha256 is not 64 lowercase hex digits");
  for (const auto* path : {&entry.files.acousticModel, &entry.files.languageModel, &entry.files.dictionary}) {
    require(staysInside(*path), [&] { return "an entry's model path leaves the archive: " + *path; });
  }
}

// The entries of the text, or nothing when the file is refused.
std::optional<std::vector<CatalogEntry>> parse(const std::string& text) {
  try {
    return store::parseCatalogFile(text);
  } catch (const store::CatalogError& error) {
    require(wellFormedUtf8(error.what()), "a CatalogError's text is not UTF-8");
    return std::nullopt;
  }
}

void checkLoaded(const std::string& text, const std::optional<std::vector<CatalogEntry>>& parsed) {
  const fs::path& scratch = scratchDirectory();
  fs::create_directories(scratch / "catalog.d");
  writeFile(scratch / "catalog.d" / "fuzz.json", reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  store::StoreLayout layout{scratch / "store", {scratch / "catalog.d"}};

  LogCapture capture;
  store::Catalog catalog = store::Catalog::load(layout);
  auto logLines = requireJsonLines(capture.finish(), "the log");

  const auto& entries = catalog.entries();
  require(!entries.empty() && entries.front().locale.identifier() == "en_US", "en_US is not the first entry");
  std::set<std::string> keys{"en-us"};
  for (const CatalogEntry& entry : parsed.value_or(std::vector<CatalogEntry>{})) {
    keys.insert(entry.locale.sameLocaleKey());
    const CatalogEntry* found = catalog.find(entry.locale);
    require(found != nullptr, [&] { return "an accepted locale is not found: " + entry.locale.identifier(); });
    require(catalog.findEquivalent(entry.locale) != nullptr, "an accepted locale has no equivalent");
  }
  require(entries.size() == keys.size(), [&] {
    return "the catalog holds " + std::to_string(entries.size()) + " entries for " + std::to_string(keys.size()) +
           " locales";
  });
  if (!parsed) {
    require(logLines.size() == 1 && logLines[0]["event"] == "store.catalogFileIgnored",
            "a refused file was not logged once");
  }
}

}  // namespace
}  // namespace tolva::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tolva::fuzz;
  std::string text(reinterpret_cast<const char*>(data), size);
  auto parsed = parse(text);
  if (parsed) {
    for (const auto& entry : *parsed) checkEntry(entry);
  }
  checkLoaded(text, parsed);
  return 0;
}
