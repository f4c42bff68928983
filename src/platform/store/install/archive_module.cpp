#include "platform/store/install/archive_tools.hpp"

extern "C" __attribute__((visibility("default"))) const tolva::store::ArchiveTools* tolvaArchiveModule() {
  return &tolva::store::linkedArchiveTools();
}
