#include "decode_modes.hpp"

#include <algorithm>

#include "live/sources/analyzer_format_converter.hpp"
#include "live/sources/replay_source.hpp"
#include "locale/speech_preset.hpp"
#include "locale/trim.hpp"
#include "platform/ffmpeg/ffmpeg_audio.hpp"
#include "platform/platform_error.hpp"

namespace tolva::bench {
namespace {

// Files and conversion through FFmpeg, as the shipped binary has them; no
// microphone.
class FileAudio final : public AudioSystem {
 public:
  std::unique_ptr<AudioFile> openFile(const std::string& path) override { return ffmpeg::openAudioFile(path); }
  std::unique_ptr<AudioConverter> makeConverter(const AudioFormat& from, const AudioFormat& to) override {
    return ffmpeg::makeConverter(from, to);
  }
  std::unique_ptr<CaptureEngine> makeCaptureEngine(const std::string&) override { return nullptr; }
  std::vector<CaptureSource> captureSources() override { return {}; }
  std::unique_ptr<AudioStream> openStream(const AudioStreamRequest&) override { return nullptr; }
};

Decoded finalTexts(ResultChannel& results, double audioSeconds) {
  Decoded decoded;
  std::string joined;
  while (std::optional<TranscriberResult> result = results.next()) {
    if (!result->isFinal) continue;
    joined += result->text;
    decoded.results.push_back(result->text);
  }
  decoded.text = std::string(trimWhitespaceAndNewlines(joined));
  decoded.audioSeconds = audioSeconds;
  return decoded;
}

}  // namespace

Decoded FileDecoder::decode(const std::string& path) { return dictation_ ? decodeDictation(path) : decodeBatch(path); }

Decoded FileDecoder::decodeBatch(const std::string& path) {
  FileAudio audio;
  std::unique_ptr<AudioFile> file = audio.openFile(path);
  auto transcriber = engine_.makeTranscriber(Locale("en_US"), SpeechPreset::batch());
  auto analyzer = engine_.makeAnalyzer({transcriber});
  std::optional<double> last = analyzer->analyzeSequence(*file);
  analyzer->finalizeAndFinishThroughEndOfInput();
  return finalTexts(*transcriber->results(), last.value_or(0));
}

// Chunks as the replay feed cuts them, converted to the analyzer's format.
Decoded FileDecoder::decodeDictation(const std::string& path) {
  FileAudio audio;
  std::unique_ptr<AudioFile> file = audio.openFile(path);
  auto transcriber = engine_.makeTranscriber(Locale("en_US"), SpeechPreset::dictation());
  std::optional<AudioFormat> analyzerFormat = engine_.bestAvailableAudioFormat({transcriber});
  if (!analyzerFormat) throw PlatformError("no analyzer format for en_US");
  AudioFormat format = file->processingFormat();
  auto converter = AnalyzerFormatConverter::make(audio, format, *analyzerFormat);
  std::optional<std::uint32_t> framesPerChunk = replayFramesPerChunk(format.sampleRate, chunkMs_);
  if (!converter || !framesPerChunk) throw PlatformError("cannot feed " + path + " in chunks");

  auto analyzer = engine_.makeAnalyzer({transcriber});
  auto input = AnalyzerInputChannel::make();
  analyzer->start(input);
  std::int64_t position = 0;
  while (position < file->length()) {
    auto frames = static_cast<std::uint32_t>(std::min<std::int64_t>(file->length() - position, *framesPerChunk));
    std::optional<PcmBuffer> buffer = PcmBuffer::make(format, frames);
    if (!buffer) break;
    file->read(*buffer, frames);
    if (buffer->frameLength == 0) break;
    if (auto converted = converter->convert(*buffer)) input->yield(AnalyzerInput{std::move(*converted)});
    position += buffer->frameLength;
  }
  input->finish();
  analyzer->finalizeAndFinishThroughEndOfInput();
  return finalTexts(*transcriber->results(), static_cast<double>(position) / format.sampleRate);
}

}  // namespace tolva::bench
