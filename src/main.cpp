// The shipped tool: the core entry over the real Linux platform.
#include <cstring>

#include "app/entry.hpp"
#include "platform/linux_platform.hpp"
#include "platform/sphinx/analysis/model_trial.hpp"

int main(int argc, char** argv) {
  // The helper that tries a model out for an install, started by this binary.
  if (argc > 1 && std::strcmp(argv[1], tolva::sphinx::modelTrialArgument) == 0) {
    tolva::sphinx::runModelTrial(argc, argv);
  }
  tolva::run(argc, argv, []() -> tolva::Platform& { return tolva::linuxPlatform(); });
}
