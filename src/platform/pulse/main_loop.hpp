#pragma once
// PulseAudio's threaded main loop: one thread that runs every callback of the
// context and streams attached to it, with the loop's lock held.

#include <pulse/context.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <functional>

namespace tolva::pulse {

class MainLoop {
 public:
  // Creates the loop and starts its thread; throws PlatformError.
  MainLoop();
  // Stops and joins the thread. Never call it from the loop's own thread.
  ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  pa_mainloop_api* api() const;
  bool inLoopThread() const;

  // Wakes the waiter; callbacks that finish what someone waits for call it.
  void signal();

  // With the lock held from another thread: waits until `done()` is true or
  // `timeout` passes, returning `done()`. A timer on `context` bounds the
  // wait, so a callback that never comes cannot hang the caller.
  bool waitFor(pa_context* context, std::chrono::milliseconds timeout, const std::function<bool()>& done);

  // Holds the loop's lock; does nothing on the loop's own thread, where
  // callbacks already run with it held.
  class Lock {
   public:
    explicit Lock(MainLoop& loop);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    MainLoop& loop_;
    bool locked_;
  };

 private:
  pa_threaded_mainloop* loop_;
};

}  // namespace tolva::pulse
