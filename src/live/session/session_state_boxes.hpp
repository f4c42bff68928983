#pragma once
// The small pieces of state a live session shares between threads it does not
// control (the capture tap thread, the configuration-change poster, the
// results consumer, the stop watchers and the runner). Each box is one mutex
// and one value, shared through std::shared_ptr. A box never takes another
// lock while holding its own, except that ContinuationBox::yieldIfOpen hands
// its value to the channel (whose own lock is internal) under it. Nothing may
// be emitted while a box lock is held.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "concurrency/notification.hpp"
#include "platform/speech.hpp"

namespace tolva {

// The producer side of a session's analyzer input, shared with the capture
// tap. Yielding happens under the lock, so once detach() has returned no tap
// callback can yield any more, and the runner may finish the input.
class ContinuationBox {
 public:
  explicit ContinuationBox(std::shared_ptr<AnalyzerInputChannel> continuation)
      : continuation_(std::move(continuation)) {}

  // Yields while attached; the channel's verdict is ignored.
  void yieldIfOpen(AnalyzerInput input);
  // Drops the continuation without finishing it.
  void detach();

 private:
  std::mutex mutex_;
  std::shared_ptr<AnalyzerInputChannel> continuation_;
};

// Milliseconds of audio handed to the analyzer.
class AudioFedCounter {
 public:
  void add(double ms);
  double total() const;

 private:
  mutable std::mutex mutex_;
  double milliseconds_ = 0;
};

// Lets exactly one caller win, and none after spend().
class LiveOnceLatch {
 public:
  bool claim();
  void spend();

 private:
  std::mutex mutex_;
  bool spent_ = false;
};

// Raised once by a stop watcher, read by a feed loop between chunks; a
// pause between chunks ends as soon as it is raised.
class StopFlag {
 public:
  void raise() { raised_.notify(); }
  bool isRaised() const { return raised_.notified(); }
  // Waits `pause`; true when the flag was raised first (or before).
  bool raisedWithin(std::chrono::nanoseconds pause) const { return raised_.waitFor(pause); }

 private:
  Notification raised_;
};

// The counters of one session, handed back to the listen loop.
struct LiveSessionStats {
  std::int64_t volatileCount = 0;
  std::int64_t finalCount = 0;  // the runner's closing empty final is not counted
  std::optional<std::int64_t> firstVolatileMs;
  double audioFedMs = 0;
  bool finalizeTimedOut = false;
};

class LiveSessionStatsBox {
 public:
  // Counts one result; the first volatile one also sets firstVolatileMs.
  void recordResult(bool isFinal, std::int64_t elapsedMs);
  void setAudioFedMs(double ms);
  LiveSessionStats snapshot() const;

 private:
  mutable std::mutex mutex_;
  LiveSessionStats stats_;
};

}  // namespace tolva
