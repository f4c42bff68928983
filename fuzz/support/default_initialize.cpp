// libFuzzer's start-up hook for every target that needs nothing of its own
// before the first input: the shared support (stderr kept for reports).
#include "support/fuzz_support.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tolva::fuzz::initializeFuzzSupport();
  return 0;
}
