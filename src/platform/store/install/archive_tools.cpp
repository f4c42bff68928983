#include "platform/store/install/archive_tools.hpp"

#include "platform/store/install/sha256.hpp"

namespace tolva::store {

const ArchiveTools& linkedArchiveTools() {
  static const ArchiveTools tools{&downloadArchive, &extractArchive, &sha256OfFile};
  return tools;
}

}  // namespace tolva::store
