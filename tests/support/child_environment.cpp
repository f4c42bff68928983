#include "support/child_environment.hpp"

#include <unistd.h>

#include <string_view>

namespace tolva::test {

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view text(*entry);
    if (!overrides.contains(std::string(text.substr(0, text.find('='))))) env.emplace_back(text);
  }
  for (const auto& [name, value] : overrides) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> execPointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace tolva::test
