#include "locale/asset_status_name.hpp"

namespace tolva {

std::string assetStatusName(AssetStatus status) {
  switch (status) {
    case AssetStatus::unsupported: return "unsupported";
    case AssetStatus::supported: return "supported";
    case AssetStatus::downloading: return "downloading";
    case AssetStatus::installed: return "installed";
    case AssetStatus::other: break;
  }
  return "unknown";
}

}  // namespace tolva
