#include "live/protocol/termination_signals.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace tolva {
namespace {

int signalPipeWriteEnd = -1;

extern "C" void onTerminationSignal(int signal) {
  int savedErrno = errno;
  auto byte = static_cast<unsigned char>(signal);
  ssize_t ignored = ::write(signalPipeWriteEnd, &byte, 1);  // a full pipe already holds a quit
  (void)ignored;
  errno = savedErrno;
}

int installOnce() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  signalPipeWriteEnd = fds[1];
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);  // a closing terminal or a logout
  return fds[0];
}

}  // namespace

int watchTerminationSignals() {
  static const int readEnd = installOnce();
  return readEnd;
}

const char* terminationSignalName(int signal) {
  switch (signal) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "other";
  }
}

}  // namespace tolva
