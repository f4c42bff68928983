// The PocketSphinx engine in-process, on the librivox clips of
// pocketsphinx-testdata (16 kHz mono 16-bit speech with reference
// transcriptions) and the en-US model of pocketsphinx-en-us, served by a small
// test model store.

#include "platform/sphinx/sphinx_engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "concurrency/notification.hpp"
#include "concurrency/sleep.hpp"
#include "locale/speech_preset.hpp"
#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder_cache.hpp"
#include "support/librivox_clips.hpp"
#include "support/temp_dir.hpp"

namespace tolva::sphinx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tolva::test;

const fs::path systemModel = "/usr/share/pocketsphinx/model/en-us";
fs::path clipPath(std::size_t index) { return librivoxClip(librivoxClipNumbers().at(index)); }

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

std::uint32_t little(const std::string& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

// A 16-bit PCM WAV file of any rate and channel count, as deinterleaved float.
MemoryAudioFile readWav(const fs::path& path) {
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
Collected collect(ResultChannel& channel, std::chrono::milliseconds timeout = 60s) {
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

std::string joinedText(const std::vector<TranscriberResult>& results, bool finals = true) {
  std::string text;
  for (const auto& result : results) {
    if (result.isFinal == finals) text += result.text;
  }
  return text;
}

struct Engine {
  std::shared_ptr<DecoderCache> cache = std::make_shared<DecoderCache>();
  std::unique_ptr<SpeechEngine> engine = makeSphinxEngine(std::make_unique<TestModelStore>(), cache);

  std::shared_ptr<SpeechTranscriber> transcriber(const TranscriberPreset& preset, const char* locale = "en_US") {
    return engine->makeTranscriber(Locale(locale), preset);
  }
};

// Transcribes a file with the batch preset; returns the results and the reported end.
std::pair<Collected, std::optional<double>> transcribe(Engine& engine, AudioFile& file) {
  auto transcriber = engine.transcriber(SpeechPreset::batch());
  auto analyzer = engine.engine->makeAnalyzer({transcriber});
  std::optional<double> last = analyzer->analyzeSequence(file);
  analyzer->finalizeAndFinishThroughEndOfInput();
  return {collect(*transcriber->results()), last};
}

TEST(SphinxEngine, ServesTheStoreAndItsFormat) {
  Engine engine;
  EXPECT_TRUE(engine.engine->isAvailable());
  EXPECT_EQ(engine.engine->installedLocales(), std::vector<Locale>{Locale("en_US")});
  EXPECT_EQ(engine.engine->supportedLocale(Locale("en-us")), Locale("en_US"));
  EXPECT_EQ(engine.engine->bestAvailableAudioFormat({engine.transcriber(SpeechPreset::dictation())}),
            (AudioFormat{16000, 1, CommonFormat::float32}));
  EXPECT_EQ(engine.engine->bestAvailableAudioFormat({engine.transcriber(SpeechPreset::dictation(), "fr_FR")}),
            std::nullopt);
}

TEST(SphinxBatch, ClipGivesOrderedTimedFinalsForEachModuleAsItsPresetAsks) {
  Engine engine;
  auto batch = engine.transcriber(SpeechPreset::batch());
  auto dictation = engine.transcriber(SpeechPreset::dictation());
  auto analyzer = engine.engine->makeAnalyzer({batch, dictation});
  MemoryAudioFile file = readWav(clipPath(0));
  std::optional<double> last = analyzer->analyzeSequence(file);
  analyzer->finalizeAndFinishThroughEndOfInput();
  Collected timed = collect(*batch->results());
  Collected plain = collect(*dictation->results());

  ASSERT_TRUE(last.has_value());
  EXPECT_NEAR(*last, file.duration(), 1e-9);
  ASSERT_TRUE(timed.ended && plain.ended);
  ASSERT_FALSE(timed.results.empty());
  ASSERT_EQ(plain.results.size(), timed.results.size());
  double previousEnd = 0;
  for (std::size_t i = 0; i < timed.results.size(); ++i) {
    const TranscriberResult& result = timed.results[i];
    SCOPED_TRACE(result.text);
    EXPECT_TRUE(result.isFinal);
    EXPECT_GT(result.text.size(), 1u);
    EXPECT_EQ(result.text.front(), ' ');
    EXPECT_EQ(result.text.find_first_of("<>[]()+"), std::string::npos);
    EXPECT_GE(result.range.start, previousEnd);
    EXPECT_LT(result.range.start, result.range.end);
    EXPECT_LE(result.range.end, file.duration());
    EXPECT_GE(result.alternatives, 1);
    EXPECT_LE(result.alternatives, 5);
    previousEnd = result.range.end;
    EXPECT_EQ(plain.results[i].text, result.text);
    EXPECT_EQ(plain.results[i].alternatives, 0);
  }
}

TEST(SphinxBatch, WordErrorRateOverTheLibrivoxClipsIsAtMostThePeers) {
  Engine engine;
  std::size_t errors = 0;
  std::size_t words = 0;
  for (std::size_t i = 0; i < librivoxClipNumbers().size(); ++i) {
    MemoryAudioFile file = readWav(clipPath(i));
    auto [collected, last] = transcribe(engine, file);
    auto expected = librivoxReference(librivoxClipNumbers()[i]);
    errors += wordErrors(expected, wordsOf(joinedText(collected.results)));
    words += expected.size();
  }
  double rate = static_cast<double>(errors) / static_cast<double>(words);
  RecordProperty("wordErrorRate", std::to_string(rate));
  EXPECT_LE(rate, 0.366) << errors << " errors in " << words << " words";
  EXPECT_EQ(engine.cache->decodersLoaded(), 1) << "one decoder serves analyses one after another";
}

// Two clips with a pause between them, in several formats: one result each,
// timed inside its clip.
TEST(SphinxBatch, SegmentsFollowThePausesAtAnyRateAndChannelCount) {
  test::TempDir dir;
  fs::path silence = dir.path() / "silence.wav";
  ASSERT_EQ(std::system(("sox -n -r 16000 -c 1 -b 16 " + silence.string() + " trim 0 1.5").c_str()), 0);
  MemoryAudioFile first = readWav(clipPath(1));
  const double gapStart = first.duration();
  const double secondStart = gapStart + 1.5;
  struct Case {
    int rate;
    int channels;
  };
  Engine engine;
  for (Case format : {Case{16000, 1}, Case{44100, 2}, Case{48000, 1}}) {
    SCOPED_TRACE(std::to_string(format.rate) + "Hz ch=" + std::to_string(format.channels));
    fs::path joined = dir.path() / ("joined-" + std::to_string(format.rate) + ".wav");
    std::string command = "sox " + clipPath(1).string() + " " + silence.string() + " " + clipPath(4).string() + " -r " +
                          std::to_string(format.rate) + " -c " + std::to_string(format.channels) + " " +
                          joined.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    MemoryAudioFile file = readWav(joined);
    auto [collected, last] = transcribe(engine, file);
    ASSERT_EQ(collected.results.size(), 2u) << joinedText(collected.results);
    const TimeRange& one = collected.results[0].range;
    const TimeRange& two = collected.results[1].range;
    EXPECT_GE(one.start, 0);
    EXPECT_LE(one.end, gapStart + 0.05);
    EXPECT_GE(two.start, secondStart - 0.05);
    EXPECT_LE(two.end, file.duration());
    EXPECT_NEAR(*last, file.duration(), 1e-6);
  }
}

TEST(SphinxBatch, SilentOrEmptyAudioGivesNoResults) {
  Engine engine;
  MemoryAudioFile empty({16000, 1, CommonFormat::float32}, {{}});
  auto [none, noEnd] = transcribe(engine, empty);
  EXPECT_TRUE(none.ended);
  EXPECT_TRUE(none.results.empty());
  EXPECT_EQ(noEnd, std::nullopt);

  MemoryAudioFile silent({22050, 2, CommonFormat::float32}, {std::vector<float>(44100), std::vector<float>(44100)});
  auto [quiet, end] = transcribe(engine, silent);
  EXPECT_TRUE(quiet.results.empty());
  EXPECT_NEAR(end.value_or(-1), 2.0, 1e-9);
}

TEST(SphinxBatch, UnusableInputOrMissingModelThrowsAndEndsTheResults) {
  Engine engine;
  MemoryAudioFile noChannels({16000, 0, CommonFormat::float32}, {});
  MemoryAudioFile speech = readWav(clipPath(1));
  struct Case {
    const char* locale;
    AudioFile* file;
    const char* described;
  };
  for (Case c : {Case{"en_US", &noChannels, "16000Hz ch=0"}, Case{"de_DE", &speech, "de_DE"}}) {
    auto transcriber = engine.transcriber(SpeechPreset::batch(), c.locale);
    auto analyzer = engine.engine->makeAnalyzer({transcriber});
    try {
      analyzer->analyzeSequence(*c.file);
      ADD_FAILURE() << "no error for " << c.described;
    } catch (const PlatformError& error) {
      EXPECT_NE(std::string(error.what()).find(c.described), std::string::npos) << error.what();
    }
    EXPECT_TRUE(collect(*transcriber->results(), 5s).ended);
  }
  auto german = engine.transcriber(SpeechPreset::dictation(), "de_DE");
  EXPECT_THROW(engine.engine->makeAnalyzer({german})->start(AnalyzerInputChannel::make()), PlatformError);
  EXPECT_TRUE(collect(*german->results(), 5s).ended);
}

// Chunks of `frames` frames of a file, as the listen service feeds an analyzer.
std::vector<AnalyzerInput> chunksOf(MemoryAudioFile file, std::uint32_t frames) {
  std::vector<AnalyzerInput> chunks;
  while (true) {
    PcmBuffer buffer = *PcmBuffer::make(file.processingFormat(), frames);
    file.read(buffer, frames);
    if (buffer.frameLength == 0) return chunks;
    chunks.push_back({std::move(buffer)});
  }
}

// 100 ms chunks of a 16 kHz mono clip.
std::vector<AnalyzerInput> chunksOf(const fs::path& clip) { return chunksOf(readWav(clip), 1600); }

// Dictates chunks: feeds them all, ends the input, finalizes.
Collected dictate(Engine& engine, std::vector<AnalyzerInput> chunks) {
  auto transcriber = engine.transcriber(SpeechPreset::dictation());
  auto analyzer = engine.engine->makeAnalyzer({transcriber});
  auto input = AnalyzerInputChannel::make();
  analyzer->start(input);
  for (AnalyzerInput& chunk : chunks) input->yield(std::move(chunk));
  input->finish();
  analyzer->finalizeAndFinishThroughEndOfInput();
  return collect(*transcriber->results());
}

Collected dictate(Engine& engine, const fs::path& clip) { return dictate(engine, chunksOf(clip)); }

// The finals, each with its time range, as one comparable text.
std::string finalsWithTimes(const Collected& collected) {
  std::ostringstream out;
  for (const auto& result : collected.results) {
    if (result.isFinal) out << result.range.start << '-' << result.range.end << ':' << result.text << '\n';
  }
  return out.str();
}

// The clip at 48 kHz in two channels (each sample repeated), as a microphone delivers it.
MemoryAudioFile asMicrophoneAudio(const MemoryAudioFile& clip) {
  MemoryAudioFile source = clip;
  PcmBuffer all = *PcmBuffer::make(source.processingFormat(), static_cast<std::uint32_t>(source.length()));
  source.read(all, all.frameCapacity);
  std::vector<float> upsampled;
  for (float sample : all.channels[0]) upsampled.insert(upsampled.end(), 3, sample);
  return MemoryAudioFile({48000, 2, CommonFormat::float32}, {upsampled, upsampled});
}

TEST(SphinxDictation, ChunksGiveVolatileResultsThenFinals) {
  Engine engine;
  Collected collected = dictate(engine, clipPath(0));
  ASSERT_TRUE(collected.ended);
  ASSERT_GE(collected.results.size(), 3u);
  EXPECT_FALSE(collected.results.front().isFinal);
  EXPECT_TRUE(collected.results.back().isFinal);
  std::size_t volatileCount = 0;
  for (const auto& result : collected.results) {
    volatileCount += result.isFinal ? 0 : 1;
    EXPECT_EQ(result.text.find_first_of("<>[]()+"), std::string::npos) << result.text;
  }
  EXPECT_GE(volatileCount, 2u);
  auto expected = librivoxReference(librivoxClipNumbers()[0]);
  auto heard = wordsOf(joinedText(collected.results));
  EXPECT_LE(wordErrors(expected, heard), expected.size() / 2) << joinedText(collected.results);
}

// A stream cut into tiny chunks was once cut into one-word utterances: the
// voice activity was judged per call, not per stretch of audio.
TEST(SphinxDictation, FinalsDoNotDependOnHowTheAudioIsChunked) {
  Engine engine;
  MemoryAudioFile clip = readWav(clipPath(0));
  std::string reference = finalsWithTimes(dictate(engine, chunksOf(clip, 1600)));
  ASSERT_FALSE(reference.empty());
  for (std::uint32_t frames : {1u, 160u, 16000u}) {
    EXPECT_EQ(finalsWithTimes(dictate(engine, chunksOf(clip, frames))), reference) << frames << " frames per chunk";
  }
  MemoryAudioFile microphone = asMicrophoneAudio(clip);
  std::string heard = finalsWithTimes(dictate(engine, chunksOf(microphone, 4096)));
  EXPECT_FALSE(heard.empty());
  for (std::uint32_t frames : {441u, 16384u}) {
    EXPECT_EQ(finalsWithTimes(dictate(engine, chunksOf(microphone, frames))), heard) << frames << " frames at 48 kHz";
  }
}

TEST(SphinxDictation, ASecondAnalyzerReusesTheDecoderWithNothingLeftOver) {
  Engine engine;
  Collected first = dictate(engine, clipPath(1));
  dictate(engine, clipPath(0));  // different audio in between
  Collected again = dictate(engine, clipPath(1));
  EXPECT_EQ(engine.cache->decodersLoaded(), 1);
  ASSERT_FALSE(first.results.empty());
  EXPECT_EQ(joinedText(again.results), joinedText(first.results));
  EXPECT_EQ(joinedText(again.results, false), joinedText(first.results, false));
}

TEST(SphinxDictation, CancelFromAnotherThreadEndsFeedingAndFinalizePromptly) {
  Engine engine;
  auto transcriber = engine.transcriber(SpeechPreset::dictation());
  auto analyzer = engine.engine->makeAnalyzer({transcriber});
  auto input = AnalyzerInputChannel::make();
  analyzer->start(input);
  std::vector<AnalyzerInput> chunks = chunksOf(clipPath(0));
  std::jthread feeder([&](std::stop_token stop) {  // never ends the input
    for (std::size_t i = 0; sleepFor(10ms, stop); ++i) input->yield(chunks[i % chunks.size()]);
  });
  auto finalized = std::make_shared<Notification>();
  std::jthread finalizer([analyzer, finalized] {
    analyzer->finalizeAndFinishThroughEndOfInput();
    finalized->notify();
  });
  auto results = transcriber->results();
  std::stop_source expired;
  std::jthread timer([&](std::stop_token stop) {
    if (sleepFor(30s, stop)) expired.request_stop();
  });
  EXPECT_TRUE(results->next(expired.get_token()).has_value());  // decoding is under way

  std::jthread canceller([analyzer] { analyzer->cancelAndFinishNow(); });
  if (!finalized->waitFor(10s)) {
    ADD_FAILURE() << "finalize still blocks after the cancel";
    finalizer.detach();  // it owns the analyzer; the test must not hang on it
  }
  EXPECT_TRUE(collect(*results, 10s).ended);
}

TEST(SphinxDictation, DestroyingARunningAnalyzerJoinsItAndEndsTheResults) {
  Engine engine;
  auto transcriber = engine.transcriber(SpeechPreset::dictation());
  auto analyzer = engine.engine->makeAnalyzer({transcriber});
  auto input = AnalyzerInputChannel::make();
  analyzer->start(input);
  for (AnalyzerInput& chunk : chunksOf(clipPath(0))) input->yield(std::move(chunk));
  analyzer.reset();
  EXPECT_TRUE(collect(*transcriber->results(), 10s).ended);
  Collected next = dictate(engine, clipPath(1));
  EXPECT_FALSE(next.results.empty());
  EXPECT_EQ(engine.cache->decodersLoaded(), 1);
}

}  // namespace
}  // namespace tolva::sphinx
