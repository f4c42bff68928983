#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/platform_error.hpp"
#include "platform/scripted/scripted_audio.hpp"

namespace tolva::scripted {
namespace {

// Frames of a quiet 440 Hz tone, so that converted audio is not all zeros.
class ScriptedAudioFile final : public AudioFile {
 public:
  explicit ScriptedAudioFile(FileScript script) : script_(std::move(script)) {}

  AudioFormat processingFormat() const override { return script_.format; }
  std::int64_t length() const override { return script_.length; }

  void read(PcmBuffer& buffer, std::uint32_t frameCount) override {
    std::int64_t wanted = std::min<std::int64_t>({frameCount, buffer.frameCapacity, script_.length - position_});
    if (script_.framesPerRead) wanted = std::min<std::int64_t>(wanted, *script_.framesPerRead);
    wanted = std::max<std::int64_t>(wanted, 0);
    if (script_.readErrorAtFrame && position_ + wanted >= *script_.readErrorAtFrame && wanted > 0) {
      throw PlatformError(script_.readErrorMessage);
    }
    for (auto& channel : buffer.channels) {
      for (std::int64_t i = 0; i < wanted; ++i) {
        channel[static_cast<std::size_t>(i)] =
            0.1f * static_cast<float>(std::sin(2 * M_PI * 440 * static_cast<double>(position_ + i) /
                                               script_.format.sampleRate));
      }
    }
    buffer.frameLength = static_cast<std::uint32_t>(wanted);
    position_ += wanted;
  }

 private:
  FileScript script_;
  std::int64_t position_ = 0;
};

// Nearest-sample rate conversion; the fractional position carries from one
// buffer to the next, as a real stateful converter's would.
class ScriptedConverter final : public AudioConverter {
 public:
  ScriptedConverter(AudioFormat from, AudioFormat to, bool outputsNothing)
      : from_(from), to_(to), outputsNothing_(outputsNothing) {}

  void convert(PcmBuffer& output, const ConverterInputBlock& input) override {
    output.frameLength = 0;
    ConverterInputStatus status = ConverterInputStatus::noDataNow;
    while (const PcmBuffer* source = input(status)) {
      if (status != ConverterInputStatus::haveData) break;
      append(*source, output);
    }
  }

 private:
  void append(const PcmBuffer& source, PcmBuffer& output) {
    if (outputsNothing_) return;
    double step = from_.sampleRate / to_.sampleRate;
    double end = consumed_ + source.frameLength;
    while (next_ < end && output.frameLength < output.frameCapacity) {
      auto at = static_cast<std::size_t>(std::clamp(next_ - consumed_, 0.0, source.frameLength - 1.0));
      for (std::uint32_t c = 0; c < output.format.channelCount; ++c) {
        const auto& channel = source.channels[std::min<std::size_t>(c, source.channels.size() - 1)];
        output.channels[c][output.frameLength] = channel[at];
      }
      ++output.frameLength;
      next_ += step;
    }
    consumed_ = end;
  }

  AudioFormat from_;
  AudioFormat to_;
  bool outputsNothing_;
  double consumed_ = 0;  // source frames seen so far
  double next_ = 0;      // source position of the next output frame
};

}  // namespace

std::unique_ptr<AudioFile> ScriptedAudioSystem::openFile(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  auto found = scenario_.files.find(name);
  if (found == scenario_.files.end()) throw PlatformError("no scripted audio file named '" + name + "'");
  if (found->second.openError) throw PlatformError(*found->second.openError);
  return std::make_unique<ScriptedAudioFile>(found->second);
}

std::unique_ptr<AudioConverter> ScriptedAudioSystem::makeConverter(const AudioFormat& from, const AudioFormat& to) {
  if (scenario_.converterFails || from.sampleRate <= 0 || to.sampleRate <= 0) return nullptr;
  return std::make_unique<ScriptedConverter>(from, to, scenario_.converterOutputsNothing);
}

}  // namespace tolva::scripted
