// The test executable: the tool's entry over the scripted platform. The
// scenario comes from TOLVA_SCENARIO (JSON text or a file path); without it,
// the default scenario applies.
#include <memory>

#include "app/entry.hpp"
#include "platform/scripted/scripted_platform.hpp"

int main(int argc, char** argv) {
  std::unique_ptr<tolva::scripted::ScriptedPlatform> scripted;
  tolva::run(argc, argv, [&]() -> tolva::Platform& {
    if (!scripted) {
      scripted = std::make_unique<tolva::scripted::ScriptedPlatform>(tolva::scripted::scenarioFromEnvironment());
    }
    return scripted->platform();
  });
}
