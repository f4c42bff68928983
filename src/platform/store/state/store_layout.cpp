#include "platform/store/state/store_layout.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

constexpr const char* storeName = "tolva-speech";

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

fs::path homeDirectory() {
  std::string home = environment("HOME");
  if (!home.empty()) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

// XDG: a relative value is invalid and treated as unset.
fs::path dataHome() {
  fs::path configured = environment("XDG_DATA_HOME");
  if (configured.is_absolute()) return configured;
  return homeDirectory() / ".local" / "share";
}

std::vector<fs::path> dataDirs() {
  std::string configured = environment("XDG_DATA_DIRS");
  if (configured.empty()) configured = "/usr/local/share:/usr/share";
  std::vector<fs::path> dirs;
  std::size_t begin = 0;
  while (begin <= configured.size()) {
    std::size_t end = configured.find(':', begin);
    if (end == std::string::npos) end = configured.size();
    fs::path dir = configured.substr(begin, end - begin);
    if (dir.is_absolute()) dirs.push_back(dir);
    begin = end + 1;
  }
  return dirs;
}

bool isIdentifierChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

fs::path StoreLayout::lockForIdentifier(std::string_view identifier) const {
  return locks() / (std::string(identifier) + ".lock");
}

StoreLayout storeLayoutFromEnvironment() {
  StoreLayout layout;
  fs::path home = dataHome();
  layout.root = home / storeName;
  layout.catalogDirs.push_back(layout.root / "catalog.d");
  for (const fs::path& dir : dataDirs()) {
    fs::path catalog = dir / storeName / "catalog.d";
    if (catalog != layout.catalogDirs.front()) layout.catalogDirs.push_back(catalog);
  }
  return layout;
}

bool isStoreIdentifier(std::string_view identifier) {
  if (identifier.empty() || identifier.size() > 64) return false;
  for (char c : identifier) {
    if (!isIdentifierChar(c)) return false;
  }
  return true;
}

std::optional<fs::path> safeRelativePath(std::string_view path) {
  if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos) return std::nullopt;
  fs::path result;
  std::size_t begin = 0;
  while (begin <= path.size()) {
    std::size_t end = path.find('/', begin);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(begin, end - begin);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") result /= std::string(part);
    begin = end + 1;
  }
  if (result.empty()) return std::nullopt;
  return result;
}

}  // namespace tolva::store
