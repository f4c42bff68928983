#pragma once
// Scenario: everything the scripted platform answers, as plain data. Tests
// build one in C++ or write it as JSON (parseScenario). The JSON form is one
// object that mirrors these structs: each key is a field's name as spelled
// here, every key is optional and an absent one keeps the default shown, and
// nested structs are nested objects. The exceptions:
//   - an audio format is {"sampleRate", "channels", "commonFormat"} (the
//     common format's code; channels for channelCount);
//   - a status is a name (unsupported, supported, downloading, installed,
//     other) for every preset, or an object of names by preset;
//   - null: a result's "start" or "end" not finite, "lastTime" sets
//     noLastTime, "bestAudioFormat" none, "install" no request (present);
//   - `files` is an object keyed by file name, `status` by locale identifier.
// An unknown key is ignored; a value of the wrong type is refused.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio.hpp"
#include "platform/speech.hpp"

namespace tolva::scripted {

// Asset status of one locale, per preset name ("batch", "dictation").
struct StatusScript {
  std::optional<AssetStatus> all;                // for every preset
  std::map<std::string, AssetStatus> byPreset;   // overrides `all`
};

struct ProgressPoint {
  int atMs = 0;  // since downloadAndInstall began
  double fraction = 0;
  std::int64_t completed = 0;
  std::int64_t total = 0;
};

struct InstallScript {
  bool present = true;                       // false: no request (nothing to install)
  std::optional<std::string> requestError;   // assetInstallationRequest throws
  std::vector<ProgressPoint> progress;       // the progress timeline
  int durationMs = 0;                        // downloadAndInstall takes this long
  std::optional<std::string> downloadError;  // ... and then throws this
};

struct ReserveScript {
  std::optional<bool> result;               // the answer; default: whether it was added
  std::optional<std::string> error;         // throws instead
};

struct ReleaseScript {
  std::optional<bool> result;                  // the answer; default: whether it was removed
  bool shrinks = true;                         // whether the reserved list loses the locale
  std::vector<std::string> reservedMeanwhile;  // added by "another process" while it runs
  std::optional<std::string> error;            // throws instead, changing nothing
};

struct ResultScript {
  std::string text;
  double start = 0;  // seconds; may be non-finite
  double end = 0;
  std::int64_t alternatives = 0;
  bool isFinal = true;
  int delayMs = 0;                // after the previous result (or the first audio; batch: the analysis start)
  std::vector<WordTiming> words;  // delivered to transcribers that ask for word timings
};

struct AnalyzerScript {
  std::vector<ResultScript> results;
  std::optional<std::string> resultsError;  // the results stream ends with it
  std::optional<std::string> analyzeError;  // analyzeSequence throws after its results
  std::optional<double> lastTime;           // what analyzeSequence reports; default: the audio's end
  bool noLastTime = false;                  // analyzeSequence reports none
  std::optional<std::string> startError;    // start() throws
  std::optional<std::string> finalizeError; // finalize throws (after delivering)
  int finalizeDelayMs = 0;
  bool finalizeHangs = false;               // finalize blocks until cancelled
  int cancelDelayMs = 0;                    // cancelAndFinishNow takes this long
};

struct FileScript {
  AudioFormat format{16000, 1, CommonFormat::float32};
  std::int64_t length = 16000;
  std::optional<std::string> openError;
  std::optional<std::int64_t> readErrorAtFrame;  // a read reaching this frame throws
  std::string readErrorMessage = "scripted read error";
  std::optional<std::uint32_t> framesPerRead;    // at most this many per read; 0 delivers nothing
};

// A capture source as the scripted sound server lists it.
struct SourceScript {
  std::string name;
  std::string description;
  AudioFormat format{48000, 1, CommonFormat::float32};
  bool monitor = false;
  bool isDefault = false;
};

struct CaptureScript {
  AudioFormat format{48000, 1, CommonFormat::float32};  // of the default source
  // The sources; empty: one default source "scripted-mic" in `format`.
  std::vector<SourceScript> sources;
  std::optional<std::string> sourcesError;  // listing the sources throws
  std::optional<std::string> formatError;  // no input device
  std::optional<std::string> startError;
  std::uint32_t bufferFrames = 4096;
  int intervalMs = 50;
  int buffers = -1;                        // buffers delivered; -1 without end
  std::optional<int> haltAtMs;             // the device goes away then
  std::vector<int> changesAtMs;            // configuration changes that leave it running
};

// A stream as the scripted platform reads it: `length` frames (-1: without
// end) in reads of `framesPerRead`, one every `intervalMs`.
struct StreamScript {
  AudioFormat format{16000, 1, CommonFormat::float32};
  std::int64_t length = 16000;
  std::uint32_t framesPerRead = 320;
  int intervalMs = 0;
  std::optional<std::string> openError;    // openStream throws
  std::optional<std::string> decodeError;  // open() throws: the bytes are not audio
  std::optional<RawPcmFormat> expectRaw;   // open() throws unless the request's raw format is this
};

struct Scenario {
  bool available = true;
  std::vector<std::string> supportedLocales{"de_DE", "en_US"};
  std::vector<std::string> installedLocales;
  std::vector<std::string> reservedLocales;
  std::map<std::string, std::string> equivalents;  // request -> supported identifier
  std::map<std::string, StatusScript> status;      // by locale identifier
  std::int64_t maximumReservedLocales = 5;
  ReserveScript reserve;
  ReleaseScript release;
  InstallScript install;
  AnalyzerScript analyzer;                          // every analyzer ...
  std::vector<AnalyzerScript> analyzers;            // ... unless the n-th one is scripted here
  std::optional<AudioFormat> bestAudioFormat = AudioFormat{16000, 1, CommonFormat::float32};
  std::optional<int> preparedAfterMs;               // prepareDictation logs its end from its own thread then
  bool converterFails = false;
  bool converterOutputsNothing = false;
  std::map<std::string, FileScript> files;          // by file name (last path component)
  std::map<std::string, StreamScript> streams;      // by file name, as files
  CaptureScript capture;
};

// Parses the JSON form. Throws std::runtime_error naming what is wrong.
Scenario parseScenario(const std::string& json);

}  // namespace tolva::scripted
