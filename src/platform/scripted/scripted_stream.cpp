#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stop_token>

#include "concurrency/sleep.hpp"
#include "platform/platform_error.hpp"
#include "platform/scripted/scripted_audio.hpp"

namespace tolva::scripted {
namespace {

// Delivers a quiet tone in reads of framesPerRead, each after intervalMs,
// until its length is spent (never, for -1) or it is cancelled.
class ScriptedAudioStream final : public AudioStream {
 public:
  ScriptedAudioStream(StreamScript script, std::optional<RawPcmFormat> raw) : script_(std::move(script)), raw_(raw) {}

  std::optional<AudioFormat> open() override {
    if (script_.decodeError) throw PlatformError(*script_.decodeError);
    if (script_.expectRaw && raw_ != script_.expectRaw) {
      throw PlatformError("the scripted stream was opened without the raw format it expects");
    }
    if (cancelled_.stop_requested()) return std::nullopt;
    return script_.format;
  }

  void read(PcmBuffer& buffer) override {
    buffer.frameLength = 0;
    bool endless = script_.length < 0;
    std::int64_t left = endless ? script_.framesPerRead : script_.length - position_;
    if (left <= 0 || cancelled_.stop_requested()) return;
    if (script_.intervalMs > 0 && !sleepFor(std::chrono::milliseconds(script_.intervalMs), cancelled_.get_token())) {
      return;
    }
    auto frames =
        static_cast<std::uint32_t>(std::min<std::int64_t>({left, script_.framesPerRead, buffer.frameCapacity}));
    for (auto& channel : buffer.channels) {
      for (std::uint32_t i = 0; i < frames; ++i) {
        channel[i] = 0.1f * static_cast<float>(std::sin(2 * M_PI * 440 * static_cast<double>(position_ + i) /
                                                        script_.format.sampleRate));
      }
    }
    buffer.frameLength = frames;
    position_ += frames;
  }

  void cancel() override { cancelled_.request_stop(); }

 private:
  StreamScript script_;
  std::optional<RawPcmFormat> raw_;
  std::int64_t position_ = 0;
  std::stop_source cancelled_;
};

}  // namespace

std::unique_ptr<AudioStream> ScriptedAudioSystem::openStream(const AudioStreamRequest& request) {
  std::string name = std::filesystem::path(request.path).filename().string();
  auto found = scenario_.streams.find(name);
  if (found == scenario_.streams.end()) throw PlatformError("no scripted audio stream named '" + name + "'");
  if (found->second.openError) throw PlatformError(*found->second.openError);
  return std::make_unique<ScriptedAudioStream>(found->second, request.raw);
}

}  // namespace tolva::scripted
