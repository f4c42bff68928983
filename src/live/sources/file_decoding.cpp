#include "live/sources/file_decoding.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <optional>

#include "live/protocol/command_router.hpp"
#include "live/protocol/live_event_emitter.hpp"
#include "live/sources/replay_source.hpp"
#include "locale/speech_preset.hpp"
#include "locale/trim.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

// Where the replay's events (`capture-started`) go: no client listens.
struct NullDevice {
  NullDevice() : fd(::open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
  ~NullDevice() {
    if (fd >= 0) ::close(fd);
  }
  NullDevice(const NullDevice&) = delete;
  NullDevice& operator=(const NullDevice&) = delete;
  int fd;  // -1 without /dev/null: the emitter ignores failed writes
};

DecodedFile finalResults(ResultChannel& results, double audioSeconds) {
  DecodedFile decoded;
  decoded.audioSeconds = audioSeconds;
  std::string joined;
  while (std::optional<TranscriberResult> result = results.next()) {
    if (!result->isFinal) continue;
    joined += result->text;
    decoded.results.push_back(std::move(result->text));
  }
  decoded.text = trimWhitespaceAndNewlines(joined);
  return decoded;
}

}  // namespace

DecodedFile decodeAsTranscribe(SpeechEngine& engine, AudioSystem& audio, const std::string& path,
                               const Locale& locale) {
  std::unique_ptr<AudioFile> file = audio.openFile(path);
  auto transcriber = engine.makeTranscriber(locale, SpeechPreset::batch());
  auto analyzer = engine.makeAnalyzer({transcriber});
  std::optional<double> last = analyzer->analyzeSequence(*file);
  analyzer->finalizeAndFinishThroughEndOfInput();
  return finalResults(*transcriber->results(), last.value_or(0));
}

DecodedFile decodeAsReplay(SpeechEngine& engine, AudioSystem& audio, const std::string& path, std::int64_t chunkMs,
                           const Locale& locale) {
  auto transcriber = engine.makeTranscriber(locale, SpeechPreset::dictation());
  std::optional<AudioFormat> analyzerFormat = engine.bestAvailableAudioFormat({transcriber});
  if (!analyzerFormat) throw PlatformError("no analyzer format for " + locale.identifier());
  auto analyzer = engine.makeAnalyzer({transcriber});
  auto input = AnalyzerInputChannel::make();
  analyzer->start(input);
  NullDevice nowhere;
  LiveEventEmitter events(nowhere.fd);
  double fedMs = 0;
  try {
    // A stop signal that never ticks: the feed runs to the end of the file.
    fedMs =
        feedReplay({audio, path, chunkMs, *analyzerFormat, input, 0, StopSignal::make(), events, ReplayPacing::none});
  } catch (...) {
    input->finish();
    analyzer->cancelAndFinishNow();
    throw;
  }
  input->finish();
  analyzer->finalizeAndFinishThroughEndOfInput();
  return finalResults(*transcriber->results(), fedMs / 1000);
}

}  // namespace tolva
