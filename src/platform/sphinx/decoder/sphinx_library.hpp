#pragma once
// Process-wide state of the PocketSphinx library. Its log is a global FILE*
// that ps_init() reopens from -logfn, closing the previous one, so two decoders
// set up at once could close each other's file: every set-up and tear-down
// runs under one lock. The log lines themselves go to a callback that drops
// them, because our standard error carries only our own JSON log lines.

#include <mutex>

namespace tolva::sphinx {

// Silences the library's log (the first time) and returns the lock that
// serialises calls touching the library's globals.
std::unique_lock<std::mutex> enterLibrary();

// Sends the library's error lines ("ERROR: ...", "FATAL: ...") to fd instead
// of dropping them; for a helper process whose output is read by its parent.
void forwardLibraryErrors(int fd);

}  // namespace tolva::sphinx
