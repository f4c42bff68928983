#pragma once
// A temporary directory, removed with its contents when the object goes.

#include <filesystem>
#include <string>

namespace tolva::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes a file under the directory and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

}  // namespace tolva::test
