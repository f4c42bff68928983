#include "platform/pulse/main_loop.hpp"

#include <pulse/rtclock.h>

#include "platform/platform_error.hpp"

namespace tolva::pulse {
namespace {

struct Expiry {
  pa_threaded_mainloop* loop;
  bool expired = false;
};

void onExpired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
  auto* expiry = static_cast<Expiry*>(userdata);
  expiry->expired = true;
  pa_threaded_mainloop_signal(expiry->loop, 0);
}

}  // namespace

MainLoop::MainLoop() : loop_(pa_threaded_mainloop_new()) {
  if (!loop_) throw PlatformError("cannot create the sound server main loop");
  if (pa_threaded_mainloop_start(loop_) < 0) {
    pa_threaded_mainloop_free(loop_);
    throw PlatformError("cannot start the sound server main loop");
  }
}

MainLoop::~MainLoop() {
  pa_threaded_mainloop_stop(loop_);
  pa_threaded_mainloop_free(loop_);
}

pa_mainloop_api* MainLoop::api() const { return pa_threaded_mainloop_get_api(loop_); }

bool MainLoop::inLoopThread() const { return pa_threaded_mainloop_in_thread(loop_) != 0; }

void MainLoop::signal() { pa_threaded_mainloop_signal(loop_, 0); }

bool MainLoop::waitFor(pa_context* context, std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  if (done()) return true;
  Expiry expiry{loop_};
  auto usec = static_cast<pa_usec_t>(std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
  pa_time_event* timer = pa_context_rttime_new(context, pa_rtclock_now() + usec, onExpired, &expiry);
  if (!timer) return false;
  while (!done() && !expiry.expired) pa_threaded_mainloop_wait(loop_);
  api()->time_free(timer);
  return done();
}

MainLoop::Lock::Lock(MainLoop& loop) : loop_(loop), locked_(!loop.inLoopThread()) {
  if (locked_) pa_threaded_mainloop_lock(loop_.loop_);
}

MainLoop::Lock::~Lock() {
  if (locked_) pa_threaded_mainloop_unlock(loop_.loop_);
}

}  // namespace tolva::pulse
