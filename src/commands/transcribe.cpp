// transcribe: one audio file to a timed transcript, after checking in order
// that transcription is possible, the file exists, the locale is supported and
// its assets are installed (or, with --auto-install, installing them).
#include <sys/stat.h>

#include <algorithm>

#include "app/path_name.hpp"
#include "commands/command_support.hpp"
#include "commands/commands.hpp"
#include "commands/result_collector.hpp"
#include "commands/transcribe_progress.hpp"
#include "commands/transcript_output.hpp"
#include "commands/transcript_shaping.hpp"
#include "locale/asset_status_name.hpp"
#include "locale/graphemes.hpp"
#include "locale/resolve_locale.hpp"
#include "locale/speech_preset.hpp"
#include "locale/trim.hpp"
#include "output/emit.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

bool fileSystemEntryExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::string joined(const std::vector<std::string>& values, const std::string& separator) {
  std::string out;
  for (const auto& value : values) out += (out.empty() ? "" : separator) + value;
  return out;
}

[[noreturn]] void failUnsupported(SpeechEngine& engine, const std::string& localeId) {
  std::vector<Locale> supported = engine.supportedLocales();
  std::optional<std::string> note = defaultLocaleNote(localeId);
  fail("unsupported-locale",
       "SpeechTranscriber has no model for '" + localeId + "' \xE2\x80\x94 it supports only " +
           std::to_string(supported.size()) + " locales; there is no download that adds it",
       joined(sortedIdentifiers(supported), ",") + (note ? "; " + *note : ""));
}

void autoInstall(AssetInventory& inventory, const Locale& locale, const TranscriberModules& modules) {
  log("transcribe.autoInstalling");
  try {
    inventory.reserve(locale);
  } catch (...) {
    // A reservation that cannot be made does not stop the install.
  }
  try {
    if (auto request = inventory.assetInstallationRequest(modules)) {
      request->downloadAndInstall();
      log("transcribe.autoInstall.done");
    }
  } catch (...) {
    fail("asset-install-failed", "could not install locale assets", describe(std::current_exception()));
  }
}

void ensureInstalled(SpeechEngine& engine, const Locale& resolved, const TranscriberModules& modules,
                     AssetStatus status, bool autoInstallOn) {
  if (status == AssetStatus::unsupported) {
    fail("locale-unsupported-on-device",
         "assets for " + resolved.identifier() +
             " report 'unsupported' on this machine \xE2\x80\x94 no download will fix this");
  }
  if (status == AssetStatus::installed) return;
  if (!autoInstallOn) {
    fail("asset-not-installed", "locale assets for " + resolved.identifier() + " are '" + assetStatusName(status) +
                                    "' \xE2\x80\x94 rerun with --auto-install or run `install` first");
  }
  autoInstall(engine.assetInventory(), resolved, modules);
}

std::unique_ptr<AudioFile> openAudio(AudioSystem& audio, const std::string& path) {
  try {
    return audio.openFile(path);
  } catch (...) {
    fail("audio-open-failed",
         "AVAudioFile could not read " + lastPathComponent(path) +
             " \xE2\x80\x94 AVFoundation does not decode this container/codec",
         describe(std::current_exception()));
  }
}

[[noreturn]] void failAnalysis(ResultCollector& collector, TranscribeProgress& progress) {
  std::string description = describe(std::current_exception());
  progress.stop();
  collector.stop();
  fail("analyze-failed", "analyzeSequence/finalize threw", description);
}

// Feeds the whole file to the analyzer while the collector gathers results
// and the progress reporter follows how far the analysis has got.
CollectedResults analyze(SpeechAnalyzer& analyzer, AudioFile& file, double duration, ResultCollector& collector) {
  log("transcribe.analyzeSequence.begin");
  TranscribeProgress progress(analyzer, duration);
  std::optional<double> lastTime;
  try {
    lastTime = analyzer.analyzeSequence(file);
  } catch (...) {
    failAnalysis(collector, progress);
  }
  progress.finish();
  log("transcribe.analyzeSequence.end", {{"lastTime", lastTime ? JsonValue(*lastTime) : JsonValue(-1)}});
  try {
    analyzer.finalizeAndFinishThroughEndOfInput();
  } catch (...) {
    failAnalysis(collector, progress);
  }
  log("transcribe.finalized");
  return collector.finish();
}

// Segments cut to the longest length asked for; words only when asked for.
std::vector<Segment> shapedSegments(std::vector<Segment> segments, const TranscribeOptions& options) {
  if (options.maxSegmentSeconds) segments = limitSegmentLength(std::move(segments), *options.maxSegmentSeconds);
  if (!options.words && options.format == TranscriptFormat::json) {
    for (Segment& segment : segments) segment.words.reset();
  }
  return segments;
}

}  // namespace

void cmdTranscribe(const PlatformProvider& platform, const std::string& path, const std::string& localeId,
                   bool autoInstallOn, const TranscribeOptions& options) {
  log("transcribe.start", {{"path", path}, {"locale", localeId}});
  SpeechEngine& engine = platform().speech;
  if (!engine.isAvailable()) fail("unavailable", "SpeechTranscriber.isAvailable == false on this machine");
  if (!fileSystemEntryExists(path)) fail("no-such-file", "audio file not found: " + path);

  auto resolved = resolveLocale(engine, localeId);
  if (!resolved) failUnsupported(engine, localeId);
  log("transcribe.localeResolved", {{"resolved", resolved->identifier()}});

  auto transcriber = engine.makeTranscriber(*resolved, options.needsWordTimings()
                                                           ? SpeechPreset::withWordTimings(SpeechPreset::batch())
                                                           : SpeechPreset::batch());
  TranscriberModules modules{transcriber};
  AssetStatus statusBefore = engine.assetInventory().status(modules);
  log("transcribe.assetStatus", {{"status", assetStatusName(statusBefore)}});
  ensureInstalled(engine, *resolved, modules, statusBefore, autoInstallOn);

  std::unique_ptr<AudioFile> file = openAudio(platform().audio, path);
  AudioFormat format = file->processingFormat();
  std::int64_t frames = file->length();
  double duration = static_cast<double>(frames) / format.sampleRate;
  log("transcribe.audioOpened", {{"sampleRate", format.sampleRate},
                                 {"channels", format.channelCount},
                                 {"frames", frames},
                                 {"durationSec", duration}});

  auto start = WallClock::now();
  auto analyzer = engine.makeAnalyzer(modules);
  ResultCollector collector(transcriber->results(), options.needsWordTimings());
  CollectedResults collected = analyze(*analyzer, *file, duration, collector);
  double processingTimeMs = elapsedMsSince(start);

  TranscriptionOut out;
  std::string joinedText;
  for (const auto& segment : collected.segments) joinedText += segment.text;
  out.transcript = trimWhitespaceAndNewlines(joinedText);
  out.language = resolved->identifier();
  out.duration = duration;
  out.segments = shapedSegments(std::move(collected.segments), options);
  out.processingTimeMs = processingTimeMs;
  out.localeUsed = resolved->identifier();
  out.localeRequested = localeId;
  out.assetStatusBefore = assetStatusName(statusBefore);
  out.audioFormat = formatDescription(format) + " " + std::to_string(static_cast<int>(format.commonFormat));
  if (duration > 0) out.realtimeFactor = processingTimeMs / 1000 / duration;
  out.alternativesCount = collected.alternatives;

  log("transcribe.done", {{"segments", static_cast<std::int64_t>(out.segments.size())},
                          {"chars", static_cast<std::int64_t>(graphemeCount(out.transcript))},
                          {"elapsedMs", processingTimeMs},
                          {"realtimeFactor", out.realtimeFactor ? JsonValue(*out.realtimeFactor) : JsonValue(-1.0)}});
  writeTranscription(out, options.format);
}

}  // namespace tolva
