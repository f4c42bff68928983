#pragma once
// The stdin reader of the listen service: a thread that reads command lines
// and hands each to the router, waiting until it is processed before reading
// on, so it never reads ahead of the router. At the end of input it tells the
// router once and ends. It also watches the termination-signal pipe and turns
// every signal into a quit.
//
// It waits in poll(2) on standard input, the signal pipe and a wake-up pipe of
// its own, so cancel() can end it without closing standard input. It shares
// ownership of the router and of its pipes, so it may also be left running
// while the process exits.

#include <memory>

#include "concurrency/task.hpp"
#include "live/protocol/command_router.hpp"

namespace tolva {

struct StdinReaderState;

class StdinReader {
 public:
  // Starts reading at once. `signalFd` may be -1 (no signals watched).
  StdinReader(std::shared_ptr<CommandRouter> router, int inputFd, int signalFd);
  ~StdinReader();
  StdinReader(const StdinReader&) = delete;
  StdinReader& operator=(const StdinReader&) = delete;

  // Asks the reader to end and waits for it briefly; one busy handing a line
  // to the router past that is left to finish alone.
  void cancel();

 private:
  std::shared_ptr<StdinReaderState> shared_;
  bool cancelled_ = false;
  Task task_;
};

}  // namespace tolva
