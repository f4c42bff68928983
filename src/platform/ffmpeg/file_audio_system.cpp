#include "platform/ffmpeg/file_audio_system.hpp"

#include "platform/ffmpeg/ffmpeg_audio.hpp"
#include "platform/platform_error.hpp"

namespace tolva::ffmpeg {
namespace {

class FileAudioSystem final : public AudioSystem {
 public:
  std::unique_ptr<AudioFile> openFile(const std::string& path) override { return openAudioFile(path); }
  std::unique_ptr<AudioConverter> makeConverter(const AudioFormat& from, const AudioFormat& to) override {
    return ffmpeg::makeConverter(from, to);
  }
  // Files only: there is no sound server behind it.
  std::unique_ptr<CaptureEngine> makeCaptureEngine(const std::string&) override { throw noCapture(); }
  std::vector<CaptureSource> captureSources() override { throw noCapture(); }
  std::unique_ptr<AudioStream> openStream(const AudioStreamRequest&) override {
    throw PlatformError("the file audio system opens no streams");
  }

 private:
  static PlatformError noCapture() { return PlatformError("the file audio system has no capture"); }
};

}  // namespace

std::unique_ptr<AudioSystem> makeFileAudioSystem() { return std::make_unique<FileAudioSystem>(); }

}  // namespace tolva::ffmpeg
