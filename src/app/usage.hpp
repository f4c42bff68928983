#pragma once

#include <string_view>

namespace tolva {

// Written to standard error when no subcommand is given (651 bytes).
extern const std::string_view usageText;

}  // namespace tolva
