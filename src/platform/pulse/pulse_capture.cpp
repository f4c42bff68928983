// The PulseAudio capture engine.
//
// Locks: the main loop's lock guards the context, the stream and the tap's
// re-blocking; every callback runs on the loop's thread with it held. The tap
// and the observers each have a recursive mutex of their own, held while they
// run, so removeTap and removeConfigurationObserver wait for a delivery in
// progress and never take the loop's lock (a delivery holds it: waiting for
// it there would deadlock). The running flag is atomic, so observers may ask
// isRunning() from inside their call.
//
// A configuration change (stream failed or terminated, context failed, the
// source removed, or the default changed while the capture follows it)
// releases the stream, marks the engine
// not running and then tells the observers.

#include "platform/pulse/pulse_capture.hpp"

#include <pulse/introspect.h>
#include <pulse/subscribe.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "output/log.hpp"
#include "platform/platform_error.hpp"
#include "platform/pulse/main_loop.hpp"
#include "platform/pulse/record_stream.hpp"
#include "platform/pulse/sound_server.hpp"
#include "platform/pulse/source_choice.hpp"
#include "platform/pulse/tap_reblocker.hpp"

namespace tolva::pulse {
namespace {

constexpr std::uint32_t defaultTapFrames = 4096;

bool usableFormat(const AudioFormat& format) { return format.sampleRate >= 1 && format.channelCount > 0; }

class PulseCaptureEngine final : public CaptureEngine {
 public:
  explicit PulseCaptureEngine(const std::string& device) : choice_(chooseSource(device)) {}
  ~PulseCaptureEngine() override;
  PulseCaptureEngine(const PulseCaptureEngine&) = delete;
  PulseCaptureEngine& operator=(const PulseCaptureEngine&) = delete;

  AudioFormat inputFormat() override;
  void installTap(std::uint32_t bufferFrames, const AudioFormat& format, TapBlock tap) override;
  void removeTap() override;
  void prepare() override {}  // the stream is made by start: nothing to allocate ahead
  void start() override;
  void stop() override;
  bool isRunning() override { return running_.load(); }
  int addConfigurationObserver(ConfigurationObserver observer) override;
  void removeConfigurationObserver(int token) override;

 private:
  MainLoop& loop();
  void requireControlThread();
  void ensureConnected();
  void openStream(const AudioFormat& format, std::uint32_t frames);
  void halt();
  void deliver(const PcmBuffer& buffer);
  void notifyObservers();

  static void onContextState(pa_context* context, void* userdata);
  static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* userdata);
  static void onServerChanged(pa_context* context, const pa_server_info* info, void* userdata);

  const SourceChoice choice_;
  // Under the main loop's lock.
  std::unique_ptr<MainLoop> loop_;
  pa_context* context_ = nullptr;
  SourceInfo source_;
  std::optional<TapReblocker> reblocker_;
  std::unique_ptr<RecordStream> stream_;
  std::atomic<bool> running_{false};

  std::recursive_mutex tapMutex_;
  // Shared, so a delivery holds the tap without copying it per buffer.
  std::shared_ptr<const TapBlock> tap_;
  std::uint32_t tapFrames_ = defaultTapFrames;
  AudioFormat tapFormat_{0, 0};

  std::recursive_mutex observerMutex_;
  std::map<int, ConfigurationObserver> observers_;
  int lastToken_ = 0;
};

PulseCaptureEngine::~PulseCaptureEngine() {
  if (!loop_) return;
  {
    MainLoop::Lock lock(*loop_);
    stream_.reset();
    releaseContext(context_);
  }
  loop_.reset();  // joins the loop's thread
}

MainLoop& PulseCaptureEngine::loop() {
  if (!loop_) loop_ = std::make_unique<MainLoop>();
  return *loop_;
}

void PulseCaptureEngine::requireControlThread() {
  if (loop_ && loop_->inLoopThread()) {
    throw PlatformError("the capture engine cannot wait for the sound server from its own callbacks");
  }
}

// With the loop's lock held. A context that failed since is replaced.
void PulseCaptureEngine::ensureConnected() {
  if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return;
  releaseContext(context_);
  context_ = connectContext(*loop_, onContextState, this);
  pa_context_set_subscribe_callback(context_, onEvent, this);
  try {
    subscribeToDeviceEvents(*loop_, context_);
  } catch (...) {
    releaseContext(context_);
    throw;
  }
}

AudioFormat PulseCaptureEngine::inputFormat() {
  requireControlThread();
  MainLoop::Lock lock(loop());
  ensureConnected();
  return resolveSource(*loop_, context_, choice_).format;
}

void PulseCaptureEngine::installTap(std::uint32_t bufferFrames, const AudioFormat& format, TapBlock tap) {
  std::lock_guard lock(tapMutex_);
  tapFrames_ = bufferFrames > 0 ? bufferFrames : defaultTapFrames;
  tapFormat_ = format;
  tap_ = tap ? std::make_shared<const TapBlock>(std::move(tap)) : nullptr;
}

void PulseCaptureEngine::removeTap() {
  std::lock_guard lock(tapMutex_);
  tap_ = nullptr;
}

void PulseCaptureEngine::start() {
  requireControlThread();
  if (running_) return;
  AudioFormat format;
  std::uint32_t frames = 0;
  {
    std::lock_guard lock(tapMutex_);
    format = tapFormat_;
    frames = tapFrames_;
  }
  MainLoop::Lock lock(loop());
  ensureConnected();
  source_ = resolveSource(*loop_, context_, choice_);
  // The tap's format when it names one (the server converts); else the source's.
  openStream(usableFormat(format) ? AudioFormat{format.sampleRate, format.channelCount} : source_.format, frames);
  running_ = true;
}

// With the loop's lock held.
void PulseCaptureEngine::openStream(const AudioFormat& format, std::uint32_t frames) {
  stream_.reset();
  // Blocks of 10 ms: small enough that the tap hears speech as soon as it
  // is captured, large enough that a sample-at-a-time writer costs nothing.
  auto fragment = static_cast<std::uint32_t>(std::clamp(format.sampleRate / 100, 1.0, double(frames)));
  reblocker_.emplace(format, frames, fragment);
  RecordStream::Callbacks callbacks;
  callbacks.data = [this](const void* bytes, std::size_t size) {
    reblocker_->push(bytes, size, [this](const PcmBuffer& buffer) { deliver(buffer); });
  };
  callbacks.ended = [this] { halt(); };
  stream_ = std::make_unique<RecordStream>(*loop_, context_, source_.name, format, fragment, std::move(callbacks));
}

void PulseCaptureEngine::stop() {
  if (!loop_) return;
  MainLoop::Lock lock(*loop_);
  stream_.reset();
  if (reblocker_) reblocker_->reset();
  running_ = false;
}

int PulseCaptureEngine::addConfigurationObserver(ConfigurationObserver observer) {
  std::lock_guard lock(observerMutex_);
  observers_[++lastToken_] = std::move(observer);
  return lastToken_;
}

void PulseCaptureEngine::removeConfigurationObserver(int token) {
  std::lock_guard lock(observerMutex_);
  observers_.erase(token);
}

// On the loop's thread.
void PulseCaptureEngine::halt() {
  bool wasCapturing = stream_ != nullptr;
  stream_.reset();
  if (reblocker_) reblocker_->reset();
  running_ = false;
  if (wasCapturing) notifyObservers();
}

// On the loop's thread. The delivery holds its own reference, so a tap that
// removes itself does not destroy the function it is running in.
void PulseCaptureEngine::deliver(const PcmBuffer& buffer) {
  std::lock_guard lock(tapMutex_);
  std::shared_ptr<const TapBlock> tap = tap_;
  if (!tap) return;
  try {
    (*tap)(buffer);
  } catch (...) {
    // Nothing may unwind into the sound server's C code; the buffer is lost.
    log("capture.tapFailed",
        {{"frames", static_cast<std::int64_t>(buffer.frameLength)}, {"error", describe(std::current_exception())}});
  }
}

// On the loop's thread. Observers removed by an earlier observer in this
// round are skipped.
void PulseCaptureEngine::notifyObservers() {
  std::lock_guard lock(observerMutex_);
  std::vector<int> tokens;
  for (const auto& entry : observers_) tokens.push_back(entry.first);
  for (int token : tokens) {
    auto found = observers_.find(token);
    if (found == observers_.end()) continue;
    ConfigurationObserver observer = found->second;
    try {
      observer();
    } catch (...) {
      log("capture.observerFailed", {{"error", describe(std::current_exception())}});
    }
  }
}

void PulseCaptureEngine::onContextState(pa_context* context, void* userdata) {
  auto* self = static_cast<PulseCaptureEngine*>(userdata);
  self->loop_->signal();
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) self->halt();
}

void PulseCaptureEngine::onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                                 void* userdata) {
  auto* self = static_cast<PulseCaptureEngine*>(userdata);
  if (!self->stream_) return;
  auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && kind == PA_SUBSCRIPTION_EVENT_REMOVE &&
      index == self->source_.index) {
    self->halt();
  } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER && kind == PA_SUBSCRIPTION_EVENT_CHANGE) {
    // Whether the default source changed needs the server info; the context's
    // disconnect cancels this request, so it never outlives the engine.
    if (pa_operation* request = pa_context_get_server_info(context, onServerChanged, self)) {
      pa_operation_unref(request);
    }
  }
}

void PulseCaptureEngine::onServerChanged(pa_context*, const pa_server_info* info, void* userdata) {
  auto* self = static_cast<PulseCaptureEngine*>(userdata);
  if (!info || !self->stream_ || !self->choice_.followsDefault()) return;
  std::string defaultName = info->default_source_name ? info->default_source_name : "";
  if (defaultName != self->source_.name) self->halt();
}

}  // namespace

std::unique_ptr<CaptureEngine> makeCaptureEngine(const std::string& device) {
  return std::make_unique<PulseCaptureEngine>(device);
}

}  // namespace tolva::pulse
