#pragma once

#include <string>

#include "platform/speech.hpp"

namespace tolva {

// The word documents, events and logs carry for an asset status:
// "unsupported", "supported", "downloading", "installed", or "unknown" for any
// status the system does not know.
std::string assetStatusName(AssetStatus status);

}  // namespace tolva
