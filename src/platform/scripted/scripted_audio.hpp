#pragma once
// The scripted audio system: files described by the scenario (looked up by
// their last path component), a nearest-sample converter that keeps its
// position across buffers, and a capture engine that delivers buffers on a
// timer and can lose its device, the sources it records from, and streams
// that deliver their frames on a timer until they end or are cancelled.

#include "platform/audio.hpp"
#include "platform/scripted/scenario.hpp"

namespace tolva::scripted {

class ScriptedAudioSystem final : public AudioSystem {
 public:
  explicit ScriptedAudioSystem(const Scenario& scenario) : scenario_(scenario) {}
  std::unique_ptr<AudioFile> openFile(const std::string& path) override;
  std::unique_ptr<AudioConverter> makeConverter(const AudioFormat& from, const AudioFormat& to) override;
  std::unique_ptr<CaptureEngine> makeCaptureEngine(const std::string& device) override;
  std::vector<CaptureSource> captureSources() override;
  std::unique_ptr<AudioStream> openStream(const AudioStreamRequest& request) override;

 private:
  const Scenario& scenario_;
};

}  // namespace tolva::scripted
