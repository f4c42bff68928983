#include "app/path_name.hpp"

#include <filesystem>

namespace tolva {

std::string lastPathComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path == "/") return path;
  return std::filesystem::path(path).filename().string();
}

}  // namespace tolva
