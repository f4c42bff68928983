// The shipped tool: the core entry over the real Linux platform.
#include "app/entry.hpp"
#include "platform/linux_platform.hpp"

int main(int argc, char** argv) {
  tolva::run(argc, argv, []() -> tolva::Platform& { return tolva::linuxPlatform(); });
}
