#pragma once
// The trial load of a model before it is installed. PocketSphinx trusts its
// model files: garbage in them makes it call exit(), crash, run for minutes
// or allocate gigabytes. So the model is loaded, and a moment of sound
// decoded, in a helper process: the binary itself, started again with a
// hidden argument, under a time limit and an address-space limit. The
// helper writes only the library's error lines, on a pipe its parent reads.
//
// Its time limit is processor time, so that a loaded machine, where a model
// that loads in 0.3 s may take a minute of wall time, does not refuse good
// models; a longer wall-time limit ends a helper that sleeps.
//
// The address-space limit is left out in sanitizer builds, whose shadow
// memory alone reserves far more address space than the limit.

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/store/model_store.hpp"

namespace tolva::sphinx {

// The argument that makes the binary a trial helper; not in the usage text.
inline constexpr const char* modelTrialArgument = "--model-trial-internal";
inline constexpr std::chrono::seconds modelTrialTimeLimit{60};  // processor time
inline constexpr std::chrono::seconds modelTrialWallTimeLimit{300};
inline constexpr std::int64_t modelTrialAddressSpace = std::int64_t{2} << 30;

// Loads files in a helper started from `executable` (the shipped binary; the
// running one is /proc/self/exe). Throws PlatformError saying what failed:
// the library's last error line, the exit status or signal, or the limit.
void trialLoadModel(const std::string& executable, const store::ModelFiles& files);

// The helper's side: argv is {program, modelTrialArgument, acoustic model,
// language model, dictionary}. Ends the process: status 0 when the model
// loaded and decoded, 1 otherwise.
[[noreturn]] void runModelTrial(int argc, char** argv);

}  // namespace tolva::sphinx
