#include "support/temp_dir.hpp"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace tolva::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tolva-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& content) const {
  auto file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

}  // namespace tolva::test
