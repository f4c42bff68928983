#pragma once
// Running a helper process of our own under a time limit: its standard input
// is /dev/null and its standard output and error go to a pipe we read, so
// nothing it writes reaches our own streams (our standard output carries one
// document, our standard error JSON lines).
//
// Thread contract: any thread; posix_spawn is safe while other threads run.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tolva {

struct ChildOutcome {
  bool timedOut = false;  // killed (SIGKILL) at the time limit
  int exitStatus = -1;    // when it exited by itself
  int signal = 0;         // when a signal ended it
  std::string output;     // the last `keptBytes` bytes of what it wrote

  bool succeeded() const { return !timedOut && exitStatus == 0; }
};

// Runs argv[0] with argv and waits until it ends or `limit` has passed.
// Throws PlatformError when it cannot be started.
ChildOutcome runBoundedChild(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                             std::size_t keptBytes = 16 * 1024);

}  // namespace tolva
