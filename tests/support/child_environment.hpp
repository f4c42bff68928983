#pragma once
// What a test hands to posix_spawn: an environment and NULL-ended pointer lists.

#include <map>
#include <string>
#include <vector>

namespace tolva::test {

// This process's environment with `overrides` set (and replacing any old value).
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides);

// argv/envp for exec: pointers into `strings`, which must outlive them.
std::vector<char*> execPointers(std::vector<std::string>& strings);

}  // namespace tolva::test
