#pragma once
// LiveEventEmitter: the only writer of standard output in listen mode. Each
// event is one compact JSON object on one line, stamped with the envelope
//   event  the event name
//   seq    1 for the first line of the process, one more for every further line
//   tMs    whole milliseconds since processStart, truncated
// A `text` field longer than maxEventTextChars grapheme clusters keeps its end
// and gains "truncated":true. Bytes that are not UTF-8 are written as U+FFFD.
// An event that cannot be encoded (a non-finite number) is replaced by the
// fixed line
//   {"event":"error","code":"encode-failed","seq":N}
// so the seq series never has a gap.
//
// Thread contract: any thread at any time. The sequence number is taken and
// the line written under one lock, so seq order is output order and lines
// never interleave. Nothing called under the lock emits again.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "output/fd_write.hpp"
#include "output/json_value.hpp"

namespace tolva {

inline constexpr std::int64_t maxEventTextChars = 8192;
// Announced in `ready` as the line size a client's reader should allow.
inline constexpr std::int64_t maxEventLineBytes = 5 * maxEventTextChars;

class LiveEventEmitter {
 public:
  explicit LiveEventEmitter(int fd = stdoutFd) : fd_(fd) {}
  LiveEventEmitter(const LiveEventEmitter&) = delete;
  LiveEventEmitter& operator=(const LiveEventEmitter&) = delete;

  // Writes one line. Fields under event, seq or tMs are overwritten. A failed
  // write (a reader that has gone away) is ignored: the service keeps its
  // sessions' bookkeeping whether or not anyone listens.
  void emit(std::string_view event, JsonObject fields = {});

  // An `error` event with code and message (and session, for an error of a
  // running session), then the log line "listen.error" with the code.
  void emitError(std::string_view code, std::string_view message, std::optional<std::int64_t> session = std::nullopt);

 private:
  std::string lineFor(std::int64_t seq, std::string_view event, JsonObject fields) const;

  std::mutex mutex_;
  std::int64_t sequence_ = 0;
  int fd_;
};

// The process-wide emitter on standard output, created on first use (once,
// also under concurrent first use) and never destroyed: threads that outlive a
// session may still emit while the process exits.
LiveEventEmitter& liveEvents();
// The same emitter, for threads that must share ownership of what they touch.
const std::shared_ptr<LiveEventEmitter>& sharedLiveEvents();

}  // namespace tolva
