#include "platform/linux_platform.hpp"

#include "platform/linux/modules.hpp"
#include "platform/sphinx/analysis/model_trial.hpp"
#include "platform/sphinx/sphinx_engine.hpp"
#include "platform/store/model_store.hpp"

namespace tolva {
namespace {

// Files and conversion through FFmpeg, the microphone through PulseAudio,
// each in its module.
class LinuxAudioSystem final : public AudioSystem {
 public:
  std::unique_ptr<AudioFile> openFile(const std::string& path) override { return ffmpegModule().openAudioFile(path); }

  std::unique_ptr<AudioConverter> makeConverter(const AudioFormat& from, const AudioFormat& to) override {
    return ffmpegModule().makeConverter(from, to);
  }

  std::unique_ptr<CaptureEngine> makeCaptureEngine(const std::string& device) override {
    return pulseModule().makeCaptureEngine(device);
  }

  std::vector<CaptureSource> captureSources() override { return pulseModule().captureSources(); }

  std::unique_ptr<AudioStream> openStream(const AudioStreamRequest& request) override {
    return ffmpegModule().openAudioStream(request);
  }
};

}  // namespace

// Built once; the process always leaves through _exit, so nothing here is
// ever destroyed while another thread still uses it.
Platform& linuxPlatform() {
  static std::unique_ptr<SpeechEngine> speech = sphinx::makeSphinxEngine(
      store::makeModelStore([]() -> const store::ArchiveTools& { return archiveModule(); },
                            [](const store::ModelFiles& files) { sphinx::trialLoadModel("/proc/self/exe", files); }));
  static LinuxAudioSystem audio;
  static Platform platform{*speech, audio};
  return platform;
}

}  // namespace tolva
