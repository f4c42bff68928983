#pragma once
// A one-shot notification: notify() once, any number of waiters wake. Later
// notify() calls do nothing.
//
// Thread contract: every member may be called from any thread.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace tolva {

class Notification {
 public:
  void notify() {
    {
      std::lock_guard lock(mutex_);
      notified_ = true;
    }
    changed_.notify_all();
  }

  bool notified() const {
    std::lock_guard lock(mutex_);
    return notified_;
  }

  // Returns true when notified, false when `stop` was requested first.
  bool wait(std::stop_token stop = {}) const {
    std::unique_lock lock(mutex_);
    return changed_.wait(lock, stop, [&] { return notified_; });
  }

  // Returns true when notified before `timeout` passed.
  bool waitFor(std::chrono::nanoseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return notified_; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable_any changed_;
  bool notified_ = false;
};

}  // namespace tolva
