#pragma once
// CommandRouter: the control state of the listen service, driven by command
// lines from the stdin reader and by calls from the main loop. It is an actor:
// every operation runs under its one mutex, so lines and main-loop calls take
// effect one at a time in the order they arrive. Error events are emitted
// after the mutex is released.
//
// States (derived from the fields; see state()):
//   idleWaiting   no session, the main loop waits in waitForStart
//   idleBusy      no session, the main loop is elsewhere
//   startPending  a start was accepted while nobody waited
//   admitting     the main loop took the start; no stop signal attached yet
//   running       the session's stop signal is attached
//   stopping      the stop tick was sent; the session is ending
// While a session is active every start is refused, and stops that find no
// attached signal are remembered until the session is attached or finished.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "concurrency/channel.hpp"
#include "live/protocol/command_line.hpp"
#include "live/protocol/live_event_emitter.hpp"

namespace tolva {

// A session's stop signal: its first tick, or its end without one, means stop.
struct StopTick {};
using StopSignal = Channel<StopTick>;

enum class RouterState { idleWaiting, idleBusy, startPending, admitting, running, stopping };

class CommandRouter {
 public:
  explicit CommandRouter(LiveEventEmitter& events = liveEvents()) : events_(events) {}
  CommandRouter(const CommandRouter&) = delete;
  CommandRouter& operator=(const CommandRouter&) = delete;

  // Main loop: hands over the stop signal of an admitted session. A stop that
  // arrived during admission fires it at once.
  void attachSession(std::shared_ptr<StopSignal> stop);
  // Main loop: once for every start it took, rejected or run.
  void sessionFinished();
  bool shouldQuit() const;
  // Main loop: blocks until a start is accepted (the request) or the service
  // is told to quit (nothing).
  std::optional<StartRequest> waitForStart();

  // Stdin reader: one line without its terminator.
  void handle(std::string_view line);
  // Stdin reader: a line too long to hold; answered like any malformed line.
  void handleOversizedLine();
  // Stdin reader: the end of input; the same effect as a quit line.
  void stdinClosed();
  // A termination signal; the same effect as a quit line.
  void quitRequestedBySignal();

  RouterState state() const;

 private:
  struct Rejection {
    const char* code;
    std::string message;
  };

  std::optional<Rejection> apply(const CommandLine& command);
  std::optional<Rejection> start(StartRequest request);
  std::optional<Rejection> stop();
  void quit();
  void requestStop();
  void resumeWaiter(std::optional<StartRequest> request);

  LiveEventEmitter& events_;
  mutable std::mutex mutex_;
  std::condition_variable waiterWakeup_;

  std::shared_ptr<StopSignal> stopCont_;
  bool quitRequested_ = false;
  bool sessionActive_ = false;
  bool sessionAttached_ = false;  // tells admitting from stopping
  // The main loop suspended in waitForStart, and what it is resumed with.
  bool startWaiter_ = false;
  bool waiterResumed_ = false;
  std::optional<StartRequest> handedOver_;
  std::optional<StartRequest> pendingStart_;
  bool pendingStop_ = false;
};

}  // namespace tolva
