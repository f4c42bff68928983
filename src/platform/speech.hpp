#pragma once
// The speech seam: recognition, the model inventory and model download.
// Every operation blocks until done; failures throw PlatformError carrying the
// platform's description.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "concurrency/channel.hpp"
#include "locale/locale.hpp"
#include "platform/audio.hpp"

namespace tolva {

// A transcriber configuration. The two the system uses are SpeechPreset::batch
// (timed finals with alternatives) and SpeechPreset::dictation (streaming
// volatile results, then finals).
struct TranscriberPreset {
  std::string name;
  bool volatileResults = false;  // provisional results before each final one
  bool alternatives = false;     // n-best alternatives per result
  bool timeIndexed = false;      // results carry their audio time range
  // Final results carry their words with times and confidence. Off unless
  // asked for: a caller that does not want them pays nothing.
  bool wordTimings = false;
};

enum class AssetStatus { unsupported, supported, downloading, installed, other };

// An audio time range in seconds; a bound may be non-finite when unknown.
struct TimeRange {
  double start = 0;
  double end = 0;
};

// One recognised word of a final result: its times in seconds on the same
// clock as the result's range, and the recogniser's posterior probability of
// it (0 to 1). Silences and noises are never words.
struct WordTiming {
  std::string word;
  double start = 0;
  double end = 0;
  double confidence = 0;

  bool operator==(const WordTiming&) const = default;
};

struct TranscriberResult {
  std::string text;
  TimeRange range;
  std::int64_t alternatives = 0;
  bool isFinal = false;
  // Final results of a transcriber whose preset asks for wordTimings: the
  // words, in order, whose texts joined by single spaces are `text` trimmed.
  std::vector<WordTiming> words;
};

struct AnalyzerInput {
  PcmBuffer buffer;
};

using ResultChannel = Channel<TranscriberResult>;
using AnalyzerInputChannel = Channel<AnalyzerInput>;

// A transcriber module for one locale and preset.
// Thread contract: any thread. results() returns the same channel on every
// call; it ends when the analysis ends (finalize or cancel), or with an error.
class SpeechTranscriber {
 public:
  virtual ~SpeechTranscriber() = default;
  virtual const Locale& locale() const = 0;
  virtual const TranscriberPreset& preset() const = 0;
  virtual std::shared_ptr<ResultChannel> results() = 0;
};

using TranscriberModules = std::vector<std::shared_ptr<SpeechTranscriber>>;

// An analysis over its transcriber modules.
// Thread contract: one driving thread calls analyzeSequence, or start and then
// finalizeAndFinishThroughEndOfInput. cancelAndFinishNow may be called from
// any thread at any time, also while another call blocks, and returns at once;
// it makes a blocked call return. Results may still arrive after a cancel.
class SpeechAnalyzer {
 public:
  virtual ~SpeechAnalyzer() = default;
  // Consumes the whole file. Returns the time of the last sample, in seconds,
  // or nothing when there was none.
  virtual std::optional<double> analyzeSequence(AudioFile& file) = 0;
  // How far analyzeSequence has got: the seconds of audio decoded, counting
  // audio still being decoded by the share of the work done on it. Grows as
  // the work is done, never goes back, and reaches the whole file when
  // analyzeSequence returns; may be read from any thread while it runs.
  virtual double analyzedSeconds() const = 0;
  // Starts analysing the input channel in the background and returns; the
  // analysis runs until the channel is finished.
  virtual void start(std::shared_ptr<AnalyzerInputChannel> input) = 0;
  // Waits for the input to end, delivers every remaining result and ends the
  // results channels.
  virtual void finalizeAndFinishThroughEndOfInput() = 0;
  // Stops at once and ends the results channels.
  virtual void cancelAndFinishNow() = 0;
};

// Progress of an installation, readable from any thread while it runs.
class InstallProgress {
 public:
  virtual ~InstallProgress() = default;
  virtual double fractionCompleted() const = 0;
  virtual std::int64_t completedUnitCount() const = 0;
  virtual std::int64_t totalUnitCount() const = 0;
};

// Thread contract: downloadAndInstall blocks on the calling thread; progress()
// may be read from any other thread meanwhile.
class AssetInstallationRequest {
 public:
  virtual ~AssetInstallationRequest() = default;
  virtual const InstallProgress& progress() const = 0;
  // Returns when the assets are installed; throws on failure.
  virtual void downloadAndInstall() = 0;
};

// The per-locale model assets and their reservation slots.
// Thread contract: any thread, one call at a time per caller.
class AssetInventory {
 public:
  virtual ~AssetInventory() = default;
  virtual AssetStatus status(const TranscriberModules& modules) = 0;
  virtual std::vector<Locale> reservedLocales() = 0;
  virtual std::int64_t maximumReservedLocales() = 0;
  // True when the reservation was added; throws when it cannot be made.
  virtual bool reserve(const Locale& locale) = 0;
  // Whether the reservation was removed; throws when the inventory cannot be
  // changed (the description says why).
  virtual bool release(const Locale& locale) = 0;
  // A request that installs what the modules need, or nullptr when nothing is
  // missing. Throws when no request can be made.
  virtual std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const TranscriberModules& modules) = 0;
};

// The speech engine: the transcriber's class-level operations and factories.
// Thread contract: any thread.
class SpeechEngine {
 public:
  virtual ~SpeechEngine() = default;
  virtual bool isAvailable() = 0;
  // In the engine's matching order.
  virtual std::vector<Locale> supportedLocales() = 0;
  virtual std::vector<Locale> installedLocales() = 0;
  virtual std::optional<Locale> supportedLocale(const Locale& equivalentTo) = 0;
  virtual std::shared_ptr<SpeechTranscriber> makeTranscriber(const Locale& locale, const TranscriberPreset& preset) = 0;
  virtual std::shared_ptr<SpeechAnalyzer> makeAnalyzer(const TranscriberModules& modules) = 0;
  // The format to feed an analyzer of these modules, or nothing.
  virtual std::optional<AudioFormat> bestAvailableAudioFormat(const TranscriberModules& modules) = 0;
  // Starts loading, in the background, what a dictation analysis of `locale`
  // needs, so that a session started later begins at once, and returns at
  // once. An analysis that needs the same model meanwhile waits for this load
  // rather than starting its own. Failures are only logged: the analysis that
  // needs the model reports its own. The work never holds up anything else
  // and is abandoned when the process exits.
  virtual void prepareDictation(const Locale& locale) = 0;
  // After this returns no preparation writes a log line, so that the caller's
  // last line stays last; the loads themselves may go on until the process
  // exits. Returns at once.
  virtual void silencePreparations() = 0;
  virtual AssetInventory& assetInventory() = 0;
};

}  // namespace tolva
