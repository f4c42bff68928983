#include "live/protocol/stdin_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "live/protocol/stdin_line_splitter.hpp"
#include "live/protocol/termination_signals.hpp"
#include "output/log.hpp"

namespace tolva {

struct StdinReaderState {
  std::shared_ptr<CommandRouter> router;
  int inputFd = 0;
  int signalFd = -1;
  int wakeRead = -1;
  int wakeWrite = -1;

  ~StdinReaderState() {
    if (wakeRead >= 0) close(wakeRead);
    if (wakeWrite >= 0) close(wakeWrite);
  }
};

namespace {

using Shared = StdinReaderState;

void handOver(CommandRouter& router, const StdinLine& line) {
  if (line.oversized) {
    router.handleOversizedLine();
  } else {
    router.handle(line.text);
  }
}

void takeSignals(const Shared& shared) {
  unsigned char signals[64];
  ssize_t count = read(shared.signalFd, signals, sizeof signals);
  for (ssize_t i = 0; i < count; ++i) {
    log("listen.signal", {{"signal", terminationSignalName(signals[i])}});
    shared.router->quitRequestedBySignal();
  }
}

// False at the end of input (or an error that ends it).
bool takeInput(const Shared& shared, StdinLineSplitter& splitter) {
  char buffer[65536];
  ssize_t count = read(shared.inputFd, buffer, sizeof buffer);
  if (count < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (count <= 0) {
    if (auto last = splitter.finish()) handOver(*shared.router, *last);
    shared.router->stdinClosed();
    return false;
  }
  for (const auto& line : splitter.feed(std::string_view(buffer, static_cast<std::size_t>(count)))) {
    handOver(*shared.router, line);
  }
  return true;
}

// Signals are watched for the process's whole life, also once input ended:
// a session may still be closing then, and a signal must still reach it.
void readCommands(const std::shared_ptr<Shared>& shared) {
  StdinLineSplitter splitter;
  bool inputOpen = true;
  for (;;) {
    pollfd fds[3] = {
        {inputOpen ? shared->inputFd : -1, POLLIN, 0}, {shared->signalFd, POLLIN, 0}, {shared->wakeRead, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      if (inputOpen) shared->router->stdinClosed();
      return;
    }
    if (fds[2].revents != 0) return;
    if (fds[1].revents & POLLIN) takeSignals(*shared);
    if (inputOpen && fds[0].revents != 0) inputOpen = takeInput(*shared, splitter);
  }
}

}  // namespace

StdinReader::StdinReader(std::shared_ptr<CommandRouter> router, int inputFd, int signalFd)
    : shared_(std::make_shared<StdinReaderState>()) {
  shared_->router = std::move(router);
  shared_->inputFd = inputFd;
  shared_->signalFd = signalFd;
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) == 0) {
    shared_->wakeRead = wake[0];
    shared_->wakeWrite = wake[1];
  }
  task_ = Task([shared = shared_](std::stop_token) { readCommands(shared); });
}

StdinReader::~StdinReader() { cancel(); }

void StdinReader::cancel() {
  if (cancelled_) return;
  cancelled_ = true;
  if (shared_->wakeWrite >= 0) {
    char byte = 0;
    ssize_t ignored = write(shared_->wakeWrite, &byte, 1);
    (void)ignored;
  }
  if (!task_.waitFor(std::chrono::milliseconds(200))) task_.abandon();
}

}  // namespace tolva
