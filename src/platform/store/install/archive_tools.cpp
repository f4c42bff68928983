#include "platform/store/install/archive_tools.hpp"

namespace tolva::store {

const ArchiveTools& linkedArchiveTools() {
  static const ArchiveTools tools{&downloadArchive, &extractArchive};
  return tools;
}

}  // namespace tolva::store
