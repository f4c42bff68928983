#pragma once
// Task: work running on its own thread beside its creator, with cooperative
// cancellation through std::stop_token. The body receives the token and should
// pass it to every blocking wait (Channel::next, sleepFor, Notification::wait).
//
// Ownership: a Task is joined by its destructor unless it was abandoned. An
// abandoned task keeps running alone, so its body must hold shared ownership
// (std::shared_ptr) of everything it touches.

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

#include "concurrency/notification.hpp"

namespace tolva {

class Task {
 public:
  Task() = default;
  explicit Task(std::function<void(std::stop_token)> body)
      : done_(std::make_shared<Notification>()),
        thread_([done = done_, body = std::move(body)](std::stop_token stop) {
          body(stop);
          done->notify();
        }) {}

  Task(Task&&) = default;
  Task& operator=(Task&&) = default;
  ~Task() = default;  // std::jthread: requests stop, then joins

  // Requests cancellation; does not wait.
  void cancel() { thread_.request_stop(); }

  // Blocks until the body has returned.
  void wait() {
    if (thread_.joinable()) thread_.join();
  }

  // Blocks until the body has returned or `timeout` passed; true when it returned.
  bool waitFor(std::chrono::nanoseconds timeout) {
    if (!done_) return true;
    if (!done_->waitFor(timeout)) return false;
    wait();
    return true;
  }

  bool finished() const { return !done_ || done_->notified(); }

  // Lets the thread run on without an owner (see the class comment).
  void abandon() {
    if (thread_.joinable()) thread_.detach();
  }

 private:
  std::shared_ptr<Notification> done_;
  std::jthread thread_;
};

}  // namespace tolva
