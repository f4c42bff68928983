#pragma once
// Fixtures of the in-process PocketSphinx engine tests: the librivox clips of
// pocketsphinx-testdata (16 kHz mono 16-bit speech with reference
// transcriptions) and the en-US model of pocketsphinx-en-us, served by a small
// test model store.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "concurrency/sleep.hpp"
#include "locale/speech_preset.hpp"
#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder/decoder_cache.hpp"
#include "platform/sphinx/sphinx_engine.hpp"
#include "platform/store/model_store.hpp"
#include "support/librivox_clips.hpp"

namespace tolva::sphinx::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tolva::test;

inline const fs::path systemModel = "/usr/share/pocketsphinx/model/en-us";
inline fs::path clipPath(std::size_t index) { return librivoxClip(librivoxClipNumbers().at(index)); }

// en_US is installed from the system package; de_DE is supported but not installed.
class TestModelStore final : public store::ModelStore {
 public:
  AssetStatus status(const TranscriberModules&) override { return AssetStatus::installed; }
  std::vector<Locale> reservedLocales() override { return {}; }
  std::int64_t maximumReservedLocales() override { return 5; }
  bool reserve(const Locale&) override { return false; }
  bool release(const Locale&) override { return false; }
  std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const TranscriberModules&) override {
    return nullptr;
  }
  std::vector<Locale> supportedLocales() override { return {Locale("en_US"), Locale("de_DE")}; }
  std::vector<Locale> installedLocales() override { return {Locale("en_US")}; }
  std::optional<Locale> supportedLocale(const Locale& locale) override {
    auto all = supportedLocales();
    auto found = std::find_if(all.begin(), all.end(), [&](const Locale& one) { return sameLocale(one, locale); });
    return found == all.end() ? std::nullopt : std::optional(*found);
  }
  std::optional<store::ModelFiles> installedModel(const Locale& locale) override {
    if (!sameLocale(locale, Locale("en_US"))) return std::nullopt;
    return store::ModelFiles{systemModel / "en-us", systemModel / "en-us.lm.bin", systemModel / "cmudict-en-us.dict"};
  }
};

// Audio held in memory, read in chunks like a file.
class MemoryAudioFile final : public AudioFile {
 public:
  MemoryAudioFile(AudioFormat format, std::vector<std::vector<float>> channels)
      : format_(format), channels_(std::move(channels)) {}
  AudioFormat processingFormat() const override { return format_; }
  std::int64_t length() const override { return channels_.empty() ? 0 : std::ssize(channels_[0]); }
  void read(PcmBuffer& buffer, std::uint32_t frameCount) override {
    auto frames =
        static_cast<std::uint32_t>(std::min<std::int64_t>({frameCount, buffer.frameCapacity, length() - position_}));
    for (std::size_t c = 0; c < channels_.size(); ++c) {
      std::copy_n(channels_[c].begin() + position_, frames, buffer.channels[c].begin());
    }
    buffer.frameLength = frames;
    position_ += frames;
  }
  double duration() const { return static_cast<double>(length()) / format_.sampleRate; }

 private:
  AudioFormat format_;
  std::vector<std::vector<float>> channels_;
  std::int64_t position_ = 0;
};

// The five clips `rounds` times over, each followed by a second of silence:
// many utterances of different lengths.
inline std::unique_ptr<MemoryAudioFile> clipsWithPauses(int rounds) {
  std::vector<float> samples;
  for (int round = 0; round < rounds; ++round) {
    for (const std::string& number : librivoxClipNumbers()) {
      for (std::int16_t sample : librivoxSamples(number)) samples.push_back(static_cast<float>(sample) / 32768.0f);
      samples.resize(samples.size() + 16000, 0.0f);
    }
  }
  return std::make_unique<MemoryAudioFile>(AudioFormat{16000, 1, CommonFormat::float32},
                                           std::vector<std::vector<float>>{std::move(samples)});
}

inline std::uint32_t little(const std::string& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

// A 16-bit PCM WAV file of any rate and channel count, as deinterleaved float.
inline MemoryAudioFile readWav(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  AudioFormat format;
  std::vector<std::vector<float>> channels;
  for (std::size_t at = 12; at + 8 <= bytes.size(); at += 8 + little(bytes, at + 4, 4)) {
    std::string id = bytes.substr(at, 4);
    if (id == "fmt ") {
      format = {static_cast<double>(little(bytes, at + 12, 4)), little(bytes, at + 10, 2), CommonFormat::float32};
    } else if (id == "data") {
      std::size_t frames = little(bytes, at + 4, 4) / 2 / format.channelCount;
      channels.assign(format.channelCount, std::vector<float>(frames));
      for (std::size_t i = 0; i < frames * format.channelCount; ++i) {
        auto sample = static_cast<std::int16_t>(little(bytes, at + 8 + 2 * i, 2));
        channels[i % format.channelCount][i / format.channelCount] = static_cast<float>(sample) / 32768.0f;
      }
    }
  }
  return MemoryAudioFile(format, std::move(channels));
}

struct Collected {
  std::vector<TranscriberResult> results;
  bool ended = false;
};

// Reads results until the channel ends or `timeout` passes.
inline Collected collect(ResultChannel& channel, std::chrono::milliseconds timeout = 60s) {
  std::stop_source expired;
  std::jthread timer([&](std::stop_token stop) {
    if (sleepFor(timeout, stop)) expired.request_stop();
  });
  Collected collected;
  try {
    while (auto result = channel.next(expired.get_token())) collected.results.push_back(std::move(*result));
    collected.ended = !expired.stop_requested();
  } catch (const PlatformError&) {
    collected.ended = true;
  }
  return collected;
}

inline std::string joinedText(const std::vector<TranscriberResult>& results, bool finals = true) {
  std::string text;
  for (const auto& result : results) {
    if (result.isFinal == finals) text += result.text;
  }
  return text;
}

// An engine over the test store with a decoder cache of its own, or a given
// one. File analysis runs on `fileThreads` decoders: one unless a test asks
// for more.
struct Engine {
  explicit Engine(int fileThreads = 1, std::shared_ptr<DecoderCache> sharedCache = nullptr)
      : cache(sharedCache ? std::move(sharedCache) : std::make_shared<DecoderCache>()),
        engine(makeSphinxEngine(std::make_unique<TestModelStore>(), cache, fileThreads)) {}

  std::shared_ptr<DecoderCache> cache;
  std::unique_ptr<SpeechEngine> engine;

  std::shared_ptr<SpeechTranscriber> transcriber(const TranscriberPreset& preset, const char* locale = "en_US") {
    return engine->makeTranscriber(Locale(locale), preset);
  }
};

// Transcribes a file with the batch preset; returns the results and the reported end.
inline std::pair<Collected, std::optional<double>> transcribe(Engine& engine, AudioFile& file) {
  auto transcriber = engine.transcriber(SpeechPreset::batch());
  auto analyzer = engine.engine->makeAnalyzer({transcriber});
  std::optional<double> last = analyzer->analyzeSequence(file);
  analyzer->finalizeAndFinishThroughEndOfInput();
  return {collect(*transcriber->results()), last};
}

// Chunks of `frames` frames of a file, as the listen service feeds an analyzer.
inline std::vector<AnalyzerInput> chunksOf(MemoryAudioFile file, std::uint32_t frames) {
  std::vector<AnalyzerInput> chunks;
  while (true) {
    PcmBuffer buffer = *PcmBuffer::make(file.processingFormat(), frames);
    file.read(buffer, frames);
    if (buffer.frameLength == 0) return chunks;
    chunks.push_back({std::move(buffer)});
  }
}

// 100 ms chunks of a 16 kHz mono clip.
inline std::vector<AnalyzerInput> chunksOf(const fs::path& clip) { return chunksOf(readWav(clip), 1600); }

// Dictates chunks: feeds them all, ends the input, finalizes.
inline Collected dictate(Engine& engine, std::vector<AnalyzerInput> chunks) {
  auto transcriber = engine.transcriber(SpeechPreset::dictation());
  auto analyzer = engine.engine->makeAnalyzer({transcriber});
  auto input = AnalyzerInputChannel::make();
  analyzer->start(input);
  for (AnalyzerInput& chunk : chunks) input->yield(std::move(chunk));
  input->finish();
  analyzer->finalizeAndFinishThroughEndOfInput();
  return collect(*transcriber->results());
}

inline Collected dictate(Engine& engine, const fs::path& clip) { return dictate(engine, chunksOf(clip)); }

}  // namespace tolva::sphinx::testing
