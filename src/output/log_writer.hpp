#pragma once
// LogWriter: puts log lines on a descriptor without ever waiting for its
// reader. A parent that never reads our standard error (Node's spawn gives
// the child such a pipe) must not hold up a command or the listen service, so
// a line that cannot leave at once is dropped and counted, and the next line
// that can leave is preceded by
//   {"event":"log.dropped","lines":<lines dropped since the last written one>,"t":"..."}
//
// How it avoids waiting depends on what the descriptor is:
//   pipe:   its own non-blocking open of the same pipe (/proc/self/fd), so the
//           description we share with the parent, and perhaps with our
//           standard output after 2>&1, keeps its blocking mode;
//   socket: send with MSG_DONTWAIT;
//   other:  a plain write (files and /dev/null take lines at once).
// A line longer than the pipe takes whole may leave in parts; its rest goes
// first next time, before anything else, so no reader sees a broken line.
//
// Thread contract: any thread; one short lock around non-blocking writes.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace tolva {

class LogWriter {
 public:
  explicit LogWriter(int fd);
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Writes `line` (ending in a line feed) if it can leave now; `seconds` is
  // the time put in a log.dropped line written before it.
  void write(std::string_view line, double seconds);

  std::int64_t droppedLines() const;

 private:
  enum class Mode { plain, ownPipe, socket };

  // Writes as much of `bytes` as goes without waiting; returns how much.
  std::size_t writeNow(std::string_view bytes);
  bool flushRest();

  int fd_;
  Mode mode_ = Mode::plain;
  mutable std::mutex mutex_;
  std::string rest_;  // the unwritten end of a line begun
  std::int64_t dropped_ = 0;
};

}  // namespace tolva
