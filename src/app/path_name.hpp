#pragma once
#include <string>

namespace tolva {

// The last component of a path, as messages and log lines name a file:
// trailing slashes are ignored, and the root names itself.
std::string lastPathComponent(std::string path);

}  // namespace tolva
