#include "live/protocol/command_router.hpp"

#include "live/protocol/client_echo.hpp"

namespace tolva {
namespace {

constexpr const char* badCommand = "bad-command";
constexpr const char* notACommandMessage = "stdin line is not a JSON object with a `cmd` field";
constexpr const char* startNeedsLocaleMessage = "`start` requires a `locale`";

// One tick, then the end: the signal is used once.
void fire(StopSignal& stop) {
  stop.yield(StopTick{});
  stop.finish();
}

}  // namespace

void CommandRouter::attachSession(std::shared_ptr<StopSignal> stop) {
  std::lock_guard lock(mutex_);
  sessionAttached_ = true;
  if (pendingStop_) {
    pendingStop_ = false;
    fire(*stop);
    return;
  }
  stopCont_ = std::move(stop);
}

void CommandRouter::sessionFinished() {
  std::lock_guard lock(mutex_);
  stopCont_.reset();  // dropped without a tick: the session is over
  pendingStop_ = false;
  sessionActive_ = false;
  sessionAttached_ = false;
}

bool CommandRouter::shouldQuit() const {
  std::lock_guard lock(mutex_);
  return quitRequested_;
}

std::optional<StartRequest> CommandRouter::waitForStart() {
  std::unique_lock lock(mutex_);
  if (quitRequested_) return std::nullopt;
  if (pendingStart_) {
    auto request = std::move(pendingStart_);
    pendingStart_.reset();
    return request;
  }
  startWaiter_ = true;
  waiterResumed_ = false;
  waiterWakeup_.wait(lock, [&] { return waiterResumed_; });
  auto request = std::move(handedOver_);
  handedOver_.reset();
  return request;
}

void CommandRouter::handle(std::string_view line) {
  std::optional<Rejection> rejection;
  {
    std::lock_guard lock(mutex_);
    rejection = apply(parseCommandLine(line));
  }
  if (rejection) events_.emitError(rejection->code, rejection->message);
}

void CommandRouter::handleOversizedLine() { events_.emitError(badCommand, notACommandMessage); }

void CommandRouter::stdinClosed() {
  std::lock_guard lock(mutex_);
  quit();
}

void CommandRouter::quitRequestedBySignal() {
  std::lock_guard lock(mutex_);
  quit();
}

RouterState CommandRouter::state() const {
  std::lock_guard lock(mutex_);
  if (!sessionActive_) return startWaiter_ ? RouterState::idleWaiting : RouterState::idleBusy;
  if (pendingStart_) return RouterState::startPending;
  if (stopCont_) return RouterState::running;
  return sessionAttached_ ? RouterState::stopping : RouterState::admitting;
}

std::optional<CommandRouter::Rejection> CommandRouter::apply(const CommandLine& line) {
  if (std::holds_alternative<command::Blank>(line)) return std::nullopt;
  if (std::holds_alternative<command::Malformed>(line)) return Rejection{badCommand, notACommandMessage};
  if (std::holds_alternative<command::MissingLocale>(line)) return Rejection{badCommand, startNeedsLocaleMessage};
  if (const auto* bad = std::get_if<command::BadStart>(&line)) return Rejection{badCommand, bad->message};
  if (const auto* start = std::get_if<command::Start>(&line)) return this->start(start->request);
  if (std::holds_alternative<command::Stop>(line)) return stop();
  if (std::holds_alternative<command::Quit>(line)) {
    quit();
    return std::nullopt;
  }
  const auto& unknown = std::get<command::Unknown>(line);
  return Rejection{badCommand, "unknown command '" + clientEcho(unknown.cmd) + "'"};
}

std::optional<CommandRouter::Rejection> CommandRouter::start(StartRequest request) {
  if (sessionActive_) {
    return Rejection{"session-already-active",
                     "a dictation session is already running; send `stop` before starting another"};
  }
  sessionActive_ = true;
  if (startWaiter_) {
    resumeWaiter(std::move(request));
  } else {
    pendingStart_ = std::move(request);
  }
  return std::nullopt;
}

std::optional<CommandRouter::Rejection> CommandRouter::stop() {
  if (!sessionActive_) return Rejection{"no-session", "`stop` with no active dictation session"};
  requestStop();
  return std::nullopt;
}

void CommandRouter::quit() {
  quitRequested_ = true;
  if (sessionActive_) requestStop();
  if (startWaiter_) resumeWaiter(std::nullopt);
}

void CommandRouter::requestStop() {
  if (!stopCont_) {
    pendingStop_ = true;
    return;
  }
  fire(*stopCont_);
  stopCont_.reset();
}

// The waiter is cleared before it is resumed, so it is resumed at most once.
void CommandRouter::resumeWaiter(std::optional<StartRequest> request) {
  startWaiter_ = false;
  handedOver_ = std::move(request);
  waiterResumed_ = true;
  waiterWakeup_.notify_all();
}

}  // namespace tolva
