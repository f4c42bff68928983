#include "platform/sphinx/analysis/model_trial.hpp"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "platform/linux/bounded_child.hpp"
#include "platform/platform_error.hpp"
#include "platform/sphinx/analysis/dictation_warm_up.hpp"
#include "platform/sphinx/analysis/voice_activity.hpp"
#include "platform/sphinx/decoder/decoder.hpp"
#include "platform/sphinx/decoder/sphinx_library.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOLVA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TOLVA_SANITIZED 1
#endif
#endif

namespace tolva::sphinx {
namespace {

constexpr std::size_t shownLineBytes = 200;

void setLimit(int resource, rlim_t soft, rlim_t hard) {
  rlimit limit{soft, hard};
  setrlimit(resource, &limit);
}

// The helper's own bounds: it dies with its parent, dumps no core, meets
// SIGXCPU after its processor time, and cannot map more than its address
// space.
void limitThisProcess() {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  setLimit(RLIMIT_CORE, 0, 0);
  auto seconds = static_cast<rlim_t>(modelTrialTimeLimit.count());
  setLimit(RLIMIT_CPU, seconds, seconds + 5);
#ifndef TOLVA_SANITIZED
  setLimit(RLIMIT_AS, static_cast<rlim_t>(modelTrialAddressSpace), static_cast<rlim_t>(modelTrialAddressSpace));
#endif
}

std::string printable(std::string line) {
  if (line.size() > shownLineBytes) line = line.substr(0, shownLineBytes) + "...";
  for (char& c : line) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f) c = '?';
  }
  return line;
}

// The helper's error lines, made printable: the first, which names the
// cause, and the last, which says what gave up.
std::string errorLines(const std::string& output) {
  std::istringstream lines(output);
  std::string first;
  std::string last;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    if (first.empty()) first = line;
    last = line;
  }
  if (first == last) return printable(first);
  return printable(first) + " ... " + printable(last);
}

std::string describeOutcome(const ChildOutcome& outcome) {
  std::string what;
  if (outcome.timedOut) {
    what = "did not finish within " + std::to_string(modelTrialWallTimeLimit.count()) + " s";
  } else if (outcome.signal == SIGXCPU) {
    what = "used more than " + std::to_string(modelTrialTimeLimit.count()) + " s of processor time";
  } else if (outcome.signal != 0) {
    const char* name = sigabbrev_np(outcome.signal);
    what = "was killed by signal " + (name ? std::string("SIG") + name : std::to_string(outcome.signal));
  } else {
    what = "ended with status " + std::to_string(outcome.exitStatus);
  }
  std::string error = errorLines(outcome.output);
  return error.empty() ? what : what + " (" + error + ")";
}

}  // namespace

void trialLoadModel(const std::string& executable, const store::ModelFiles& files) {
  ChildOutcome outcome =
      runBoundedChild({executable, modelTrialArgument, files.acousticModel, files.languageModel, files.dictionary},
                      std::chrono::duration_cast<std::chrono::milliseconds>(modelTrialWallTimeLimit));
  if (outcome.succeeded()) return;
  throw PlatformError("the model failed its trial load: loading it " + describeOutcome(outcome) +
                      "; limits: " + std::to_string(modelTrialTimeLimit.count()) + " s of processor time, " +
                      std::to_string(modelTrialAddressSpace >> 20) + " MiB of address space");
}

void runModelTrial(int argc, char** argv) {
  limitThisProcess();
  forwardLibraryErrors(STDERR_FILENO);
  if (argc != 5) _exit(2);
  store::ModelFiles files{argv[2], argv[3], argv[4]};
  try {
    SphinxSettings settings;
    VoiceActivity detector(files, settings.wholeUtterance.voice);
    std::unique_ptr<Decoder> decoder = Decoder::load(files, DecoderKind::wholeUtterance, settings.wholeUtterance);
    warmUp(*decoder);
  } catch (const std::exception& error) {
    std::string line = std::string("ERROR: ") + error.what() + "\n";
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    _exit(1);
  }
  _exit(0);
}

}  // namespace tolva::sphinx
