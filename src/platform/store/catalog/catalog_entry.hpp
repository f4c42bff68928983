#pragma once
// One locale of the model catalog, and the catalog file format.
//
// A catalog file (tolva-speech/catalog.d/*.json) holds one entry object or an
// array of them:
//   {
//     "locale": "de-DE",                       BCP-47 tag or identifier
//     "url": "https://host/de-de.tar.gz",      https, http or file
//     "size": 41234567,                        archive bytes, at most 8 GiB
//     "sha256": "<64 hex digits>",             of the archive
//     "acousticModel": "de-de/acoustic",       directory, relative to the archive root
//     "languageModel": "de-de/de-de.lm.bin",   file, relative to the archive root
//     "dictionary": "de-de/de-de.dict"         file, relative to the archive root
//   }
// Other keys are ignored, so that newer catalogs still load.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "locale/locale.hpp"
#include "platform/store/model_store.hpp"

namespace tolva::store {

// The largest archive a catalog entry may name.
inline constexpr std::int64_t maximumArchiveBytes = std::int64_t{8} << 30;

struct CatalogEntry {
  Locale locale;
  bool system = false;  // shipped by a Debian package: installed when present, never downloaded
  std::string url;
  std::int64_t size = 0;
  std::string sha256;  // lowercase hex
  ModelFiles files;    // system: absolute paths; otherwise relative to the archive root
};

// A catalog file that cannot be used; what() says why.
class CatalogError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The entries of a catalog file's text. Throws CatalogError when the text is
// not JSON or any entry is malformed: a file is used whole or not at all.
std::vector<CatalogEntry> parseCatalogFile(const std::string& text);

// The built-in en_US entry over the pocketsphinx-en-us package directory.
CatalogEntry builtInEnglishEntry();

// Whether the files of a system entry are on disk (a few stat calls).
bool systemModelPresent(const ModelFiles& files);

}  // namespace tolva::store
