#pragma once
// SIGTERM, SIGINT and SIGHUP in listen mode: the handler only writes the signal's
// number as one byte into a self-pipe; the stdin reader watches the pipe and
// turns each signal into a quit, so the running session closes normally.

namespace tolva {

// Installs the handlers once and returns the pipe's read end (non-blocking),
// or -1 when the pipe cannot be made (the signals then keep their defaults).
int watchTerminationSignals();

// "SIGTERM", "SIGINT", "SIGHUP", or "other".
const char* terminationSignalName(int signal);

}  // namespace tolva
