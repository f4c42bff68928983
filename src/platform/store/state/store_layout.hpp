#pragma once
// Where the model store keeps its files, from the XDG base directories:
//
//   $XDG_DATA_HOME/tolva-speech/          the store root
//     reservations.json                   {"reserved":["de-DE",...]}, replaced atomically
//     reservations.lock                   flock'ed while the reservations change
//     locks/<identifier>.lock             flock'ed while a locale installs or is removed
//     models/<identifier>/                an installed model; complete when it exists
//     staging/<identifier>.XXXXXX/        work area of one install or removal
//   <data dir>/tolva-speech/catalog.d/    catalog files, for $XDG_DATA_HOME and
//                                         each dir of $XDG_DATA_DIRS, in that order
//
// Every staging directory belongs to the holder of its locale's lock, so a
// staging directory whose lock is free is a leftover of a killed run.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "locale/locale.hpp"

namespace tolva::store {

struct StoreLayout {
  std::filesystem::path root;
  std::vector<std::filesystem::path> catalogDirs;  // highest precedence first

  std::filesystem::path models() const { return root / "models"; }
  std::filesystem::path staging() const { return root / "staging"; }
  std::filesystem::path locks() const { return root / "locks"; }
  std::filesystem::path reservations() const { return root / "reservations.json"; }
  std::filesystem::path reservationsLock() const { return root / "reservations.lock"; }
  std::filesystem::path modelDir(const Locale& locale) const { return models() / locale.identifier(); }
  std::filesystem::path localeLock(const Locale& locale) const { return lockForIdentifier(locale.identifier()); }
  std::filesystem::path lockForIdentifier(std::string_view identifier) const;
};

// The layout for the current environment (read on every call, so a test may
// point XDG_DATA_HOME elsewhere between stores).
StoreLayout storeLayoutFromEnvironment();

// Whether a locale identifier is safe as a file name in the store: letters,
// digits and underscores only (de_DE, zh_Hans_CN).
bool isStoreIdentifier(std::string_view identifier);

// A relative path inside a directory tree: no leading '/', no "..", "." and
// empty components dropped. Nothing when the path would leave the tree or is
// empty.
std::optional<std::filesystem::path> safeRelativePath(std::string_view path);

}  // namespace tolva::store
