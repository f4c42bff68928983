#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>

#include "concurrency/sleep.hpp"
#include "concurrency/task.hpp"
#include "platform/platform_error.hpp"
#include "platform/scripted/scripted_audio.hpp"

namespace tolva::scripted {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Delivers `buffers` buffers of `bufferFrames` frames every `intervalMs` from
// its own thread, posts configuration changes at their times, and stops by
// itself at `haltAtMs` as a lost device would; at 0, before start returns.
class ScriptedCaptureEngine final : public CaptureEngine {
 public:
  // `format` is the chosen source's, or nothing when no source has its name.
  ScriptedCaptureEngine(CaptureScript script, std::string device, std::optional<AudioFormat> format)
      : script_(std::move(script)), device_(std::move(device)), format_(format) {}
  ~ScriptedCaptureEngine() override { stop(); }

  AudioFormat inputFormat() override {
    if (!format_) throw unknownSource();
    if (script_.formatError) throw PlatformError(*script_.formatError);
    return *format_;
  }

  void installTap(std::uint32_t bufferFrames, const AudioFormat& format, TapBlock tap) override {
    std::lock_guard lock(tapMutex_);
    tapFrames_ = bufferFrames;
    tapFormat_ = format;
    tap_ = std::move(tap);
  }

  void removeTap() override {
    std::lock_guard lock(tapMutex_);
    tap_ = nullptr;
  }

  void prepare() override {}

  void start() override {
    if (!format_) throw unknownSource();
    if (script_.startError) throw PlatformError(*script_.startError);
    if (script_.haltAtMs == 0) {
      postChange();  // gone while starting: never running
      return;
    }
    setRunning(true);
    thread_ = Task([this](std::stop_token stop) { play(stop); });
  }

  void stop() override {
    setRunning(false);
    thread_.cancel();
    thread_.wait();
  }

  bool isRunning() override {
    std::lock_guard lock(stateMutex_);
    return running_;
  }

  int addConfigurationObserver(ConfigurationObserver observer) override {
    std::lock_guard lock(observerMutex_);
    observers_[++lastToken_] = std::move(observer);
    return lastToken_;
  }

  void removeConfigurationObserver(int token) override {
    std::lock_guard lock(observerMutex_);
    observers_.erase(token);
  }

 private:
  PlatformError unknownSource() const {
    return PlatformError("the sound server has no capture source named '" + device_ +
                         "'; `tolva-speech devices` lists the sources");
  }

  void setRunning(bool running) {
    std::lock_guard lock(stateMutex_);
    running_ = running;
  }

  // The timeline: buffers, changes and the halt, in time order.
  void play(std::stop_token stop) {
    auto begin = Clock::now();
    auto at = [&](int ms) { return begin + milliseconds(ms); };
    std::size_t nextChange = 0;
    for (int delivered = 0; script_.buffers < 0 || delivered < script_.buffers; ++delivered) {
      auto due = at((delivered + 1) * script_.intervalMs);
      if (script_.haltAtMs && at(*script_.haltAtMs) <= due) break;
      while (nextChange < script_.changesAtMs.size() && at(script_.changesAtMs[nextChange]) <= due) {
        if (!sleepUntil(at(script_.changesAtMs[nextChange++]), stop)) return;
        postChange();
      }
      if (!sleepUntil(due, stop)) return;
      deliverBuffer(delivered);
    }
    if (script_.haltAtMs && sleepUntil(at(*script_.haltAtMs), stop)) {
      setRunning(false);
      postChange();
    }
  }

  void deliverBuffer(int index) {
    std::lock_guard lock(tapMutex_);
    if (!tap_) return;
    auto buffer = PcmBuffer::make(tapFormat_, tapFrames_);
    if (!buffer) return;
    buffer->frameLength = tapFrames_;
    for (auto& channel : buffer->channels) channel.assign(tapFrames_, 0.01f * static_cast<float>(index % 7));
    tap_(*buffer);
  }

  void postChange() {
    std::lock_guard lock(observerMutex_);
    for (auto& [token, observer] : observers_) observer();
  }

  CaptureScript script_;
  std::string device_;
  std::optional<AudioFormat> format_;
  std::mutex stateMutex_;
  bool running_ = false;
  std::mutex tapMutex_;  // held while the tap runs, so removeTap waits for it
  TapBlock tap_;
  std::uint32_t tapFrames_ = 4096;
  AudioFormat tapFormat_;
  std::mutex observerMutex_;  // held while observers run, for the same reason
  std::map<int, ConfigurationObserver> observers_;
  int lastToken_ = 0;
  Task thread_;
};

}  // namespace

std::vector<CaptureSource> ScriptedAudioSystem::captureSources() {
  const CaptureScript& capture = scenario_.capture;
  if (capture.sourcesError) throw PlatformError(*capture.sourcesError);
  std::vector<CaptureSource> sources;
  if (capture.sources.empty()) sources.push_back({"scripted-mic", "Scripted microphone", capture.format, false, true});
  for (const SourceScript& source : capture.sources) {
    sources.push_back({source.name, source.description, source.format, source.monitor, source.isDefault});
  }
  std::sort(sources.begin(), sources.end(),
            [](const CaptureSource& a, const CaptureSource& b) { return a.name < b.name; });
  return sources;
}

// A named source records in its own format; the default in the capture's.
std::unique_ptr<CaptureEngine> ScriptedAudioSystem::makeCaptureEngine(const std::string& device) {
  std::optional<AudioFormat> format;
  if (device.empty()) {
    format = scenario_.capture.format;
  } else {
    for (const CaptureSource& source : captureSources()) {
      if (source.name == device) format = source.format;
    }
  }
  return std::make_unique<ScriptedCaptureEngine>(scenario_.capture, device, format);
}

}  // namespace tolva::scripted
