#include "locale/system_strings.hpp"

#include <sys/utsname.h>
#include <unicode/unistr.h>

#include <fstream>
#include <sstream>

namespace tolva {
namespace {

// The value of `key` in a "key : value" or key="value" file, if present.
std::optional<std::string> fieldOf(const std::string& path, const std::string& key, char separator) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    auto at = line.find(separator);
    if (at == std::string::npos) continue;
    std::string name = line.substr(0, at);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    if (name != key) continue;
    std::string value = line.substr(at + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::nullopt;
}

std::optional<std::string> readWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

// Bytes up to the first zero byte, trailing line feeds dropped, invalid UTF-8
// replaced by U+FFFD.
std::string cleanText(std::string bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  while (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
  std::string out;
  icu::UnicodeString::fromUTF8(bytes).toUTF8String(out);
  return out;
}

bool safeName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name.find("..") == std::string::npos &&
         name.front() != '.';
}

}  // namespace

std::string sysctlString(const std::string& name) {
  std::optional<std::string> value;
  if (name == "machdep.cpu.brand_string") {
    value = fieldOf("/proc/cpuinfo", "model name", ':');
  } else if (safeName(name)) {
    std::string path = "/proc/sys/" + name;
    for (auto& c : path) c = c == '.' ? '/' : c;
    value = readWhole(path);
  }
  if (!value || value->empty()) return "unknown";
  return cleanText(*value);
}

std::string osVersionString() {
  std::string distribution = fieldOf("/etc/os-release", "PRETTY_NAME", '=').value_or("Linux");
  utsname system{};
  if (uname(&system) != 0) return distribution;
  return distribution + "; " + system.sysname + " " + system.release;
}

}  // namespace tolva
