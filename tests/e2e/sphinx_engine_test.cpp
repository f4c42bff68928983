// The PocketSphinx engine in-process, on the librivox clips and the en-US
// model (sphinx_test_engine.hpp).

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
#include "e2e/sphinx_test_engine.hpp"
#include "locale/speech_preset.hpp"
#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder/decoder_cache.hpp"
#include "support/librivox_clips.hpp"
#include "support/temp_dir.hpp"

namespace tolva::sphinx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tolva::test;
using namespace tolva::sphinx::testing;

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

// The clips' word error rate is bounded by the recognition guard.
TEST(SphinxBatch, OneDecoderServesAnalysesOneAfterAnother) {
  Engine engine;
  for (std::size_t i = 0; i < librivoxClipNumbers().size(); ++i) {
    MemoryAudioFile file = readWav(clipPath(i));
    auto [collected, last] = transcribe(engine, file);
    auto expected = librivoxReference(librivoxClipNumbers()[i]);
    EXPECT_GT(sharedWords(expected, wordsOf(joinedText(collected.results))), 0u) << librivoxClipNumbers()[i];
  }
  EXPECT_EQ(engine.cache->decodersLoaded(), 1);
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
