#pragma once
// The real platform of the shipped binary, built once on first use.

#include "platform/platform.hpp"

namespace tolva {

Platform& linuxPlatform();

}  // namespace tolva
