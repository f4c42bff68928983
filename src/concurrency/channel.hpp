#pragma once
// Channel<T>: the asynchronous stream of the system. An unbounded FIFO with many
// producers and one consumer. A producer yields values and finally finishes the
// channel, with or without an error; a value yielded after finish is dropped.
// The consumer's next() blocks until a value arrives, the channel ends, or its
// stop token is triggered.
//
// Thread contract: every member may be called from any thread at any time.
// Share a channel between threads through std::shared_ptr.

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace tolva {

template <class T>
class Channel {
 public:
  Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  static std::shared_ptr<Channel> make() { return std::make_shared<Channel>(); }

  // Appends a value. Returns false (and drops it) once the channel is finished.
  bool yield(T value) {
    {
      std::lock_guard lock(mutex_);
      if (finished_) return false;
      values_.push_back(std::move(value));
    }
    changed_.notify_all();
    return true;
  }

  // Ends the stream. Values already queued are still delivered. Only the first
  // finish counts.
  void finish() { end(nullptr); }

  // Ends the stream with an error, raised by next() once the queue is drained.
  void finish(std::exception_ptr error) { end(std::move(error)); }

  // The next value; std::nullopt at the end of the stream or when `stop` is
  // requested first. At the end of a stream finished with an error, throws it.
  std::optional<T> next(std::stop_token stop = {}) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, stop, [&] { return !values_.empty() || finished_; });
    if (!values_.empty()) {
      T value = std::move(values_.front());
      values_.pop_front();
      if (values_.empty()) {
        lock.unlock();
        changed_.notify_all();  // for waitUntilDrained
      }
      return value;
    }
    if (finished_ && error_) std::rethrow_exception(error_);
    return std::nullopt;
  }

  // Blocks until the consumer has taken every queued value, or `stop` is
  // requested first; true when nothing is queued.
  bool waitUntilDrained(std::stop_token stop = {}) {
    std::unique_lock lock(mutex_);
    return changed_.wait(lock, stop, [&] { return values_.empty(); });
  }

  bool isFinished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }

 private:
  void end(std::exception_ptr error) {
    {
      std::lock_guard lock(mutex_);
      if (finished_) return;
      finished_ = true;
      error_ = std::move(error);
    }
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  std::deque<T> values_;
  bool finished_ = false;
  std::exception_ptr error_;
};

}  // namespace tolva
