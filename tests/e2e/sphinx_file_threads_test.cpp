// File analysis on several decoders at once: the same results as on one, the
// extra decoders forked copies of the first, and a cancel that ends it with
// every decoder back in the cache.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <memory>
#include <set>
#include <thread>

#include "concurrency/notification.hpp"
#include "e2e/sphinx_test_engine.hpp"
#include "platform/sphinx/analysis/decoding_threads.hpp"
#include "platform/sphinx/analysis/forked_decoder.hpp"
#include "support/librivox_clips.hpp"

namespace tolva::sphinx {
namespace {

using namespace tolva::sphinx::testing;

TEST(SphinxFileThreads, SegmentsTimesAndTextsAreTheSameForOneTwoAndThreeDecoders) {
  std::vector<TranscriberResult> reference;
  for (int threads : {1, 2, 3}) {
    SCOPED_TRACE("threads=" + std::to_string(threads));
    Engine engine(threads);
    auto file = clipsWithPauses(1);
    auto [collected, last] = transcribe(engine, *file);
    ASSERT_TRUE(collected.ended);
    EXPECT_NEAR(last.value_or(-1), file->duration(), 1e-9);
    // One decoder is loaded; the others are forked copies of it.
    EXPECT_EQ(engine.cache->decodersLoaded(), 1);
    if (threads == 1) {
      reference = collected.results;
      ASSERT_GE(reference.size(), 5u) << joinedText(reference);
      continue;
    }
    ASSERT_EQ(collected.results.size(), reference.size()) << joinedText(collected.results);
    for (std::size_t i = 0; i < reference.size(); ++i) {
      SCOPED_TRACE(reference[i].text);
      EXPECT_EQ(collected.results[i].text, reference[i].text);
      EXPECT_EQ(collected.results[i].range.start, reference[i].range.start);
      EXPECT_EQ(collected.results[i].range.end, reference[i].range.end);
      EXPECT_EQ(collected.results[i].alternatives, reference[i].alternatives);
      EXPECT_TRUE(collected.results[i].isFinal);
    }
  }
}

// Progress counts utterances while they are decoded, not only as their
// results arrive, so it takes many more values than there are results.
TEST(SphinxFileThreads, ProgressRisesWithTheDecodingNeverGoesBackAndEndsAtTheFile) {
  Engine engine(2);
  auto transcriber = engine.transcriber(SpeechPreset::batch());
  auto analyzer = engine.engine->makeAnalyzer({transcriber});
  auto file = clipsWithPauses(1);
  std::atomic<bool> returned = false;
  std::string failure;
  std::vector<double> seen;
  {
    std::jthread analysis([&] {
      try {
        analyzer->analyzeSequence(*file);
      } catch (const PlatformError& error) {
        failure = error.what();
      }
      returned = true;
    });
    while (!returned) {
      seen.push_back(analyzer->analyzedSeconds());
      std::this_thread::sleep_for(10ms);
    }
  }
  ASSERT_EQ(failure, "");
  analyzer->finalizeAndFinishThroughEndOfInput();
  Collected collected = collect(*transcriber->results());
  ASSERT_FALSE(collected.results.empty());

  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_LE(seen.back(), file->duration());
  EXPECT_NEAR(analyzer->analyzedSeconds(), file->duration(), 1e-9);
  std::set<double> values(seen.begin(), seen.end());
  EXPECT_GT(values.size(), 2 * collected.results.size()) << values.size() << " values, "
                                                        << collected.results.size() << " results";
}

// No child of this process is left: forked decoders are reaped when they go.
std::string childrenOfThisProcess() {
  std::string found;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream listed(task.path() / "children");
    for (std::string pid; listed >> pid;) found += pid + " ";
  }
  return found;
}

TEST(SphinxFileThreads, AForkedDecoderDecodesAsItsParentAndOneThatDiesFailsClearly) {
  DecoderCache cache;
  store::ModelFiles files = *TestModelStore().installedModel(Locale("en_US"));
  DecoderLease decoder = cache.acquire(files, DecoderKind::wholeUtterance);
  std::vector<std::int16_t> samples = tolva::test::librivoxSamples(tolva::test::librivoxClipNumbers().at(1));
  {
    ForkedDecoder forked(*decoder, true);
    UtteranceWords expected = decodeWords(*decoder, samples, true);
    for (int round = 0; round < 2; ++round) {  // the child serves one utterance after another
      UtteranceWords got = forked.decode(samples);
      ASSERT_EQ(got.words.size(), expected.words.size());
      ASSERT_FALSE(got.words.empty());
      for (std::size_t i = 0; i < got.words.size(); ++i) {
        EXPECT_EQ(got.words[i].text, expected.words[i].text);
        EXPECT_EQ(got.words[i].startFrame, expected.words[i].startFrame);
        EXPECT_EQ(got.words[i].endFrame, expected.words[i].endFrame);
        EXPECT_EQ(got.words[i].posterior, expected.words[i].posterior);
      }
      EXPECT_EQ(got.alternatives, expected.alternatives);
    }

    ASSERT_EQ(kill(forked.process(), SIGKILL), 0);
    try {
      forked.decode(samples);
      ADD_FAILURE() << "a dead decoding process answered";
    } catch (const PlatformError& error) {
      EXPECT_STREQ(error.what(), "a decoding process ended before it answered");
    }
  }
  EXPECT_EQ(childrenOfThisProcess(), "");
}

TEST(SphinxFileThreads, CancelEndsTheAnalysisAndGivesEveryDecoderBack) {
  Engine engine(2);
  auto transcriber = engine.transcriber(SpeechPreset::batch());
  auto analyzer = engine.engine->makeAnalyzer({transcriber});
  auto file = clipsWithPauses(4);
  auto returned = std::make_shared<Notification>();
  std::jthread analysis([analyzer, &file, returned] {
    try {
      analyzer->analyzeSequence(*file);
    } catch (const PlatformError&) {
    }
    returned->notify();
  });
  auto results = transcriber->results();
  EXPECT_TRUE(results->next().has_value());  // decoding is under way
  analyzer->cancelAndFinishNow();
  // Decoders finish the utterance they hold (a few seconds of audio each).
  ASSERT_TRUE(returned->waitFor(120s)) << "analyzeSequence still runs after the cancel";
  analysis.join();
  EXPECT_TRUE(collect(*results, 10s).ended);
  EXPECT_LE(engine.cache->decodersLoaded(), 2);

  MemoryAudioFile clip = readWav(clipPath(0));  // a decoder given back serves the next analysis
  auto [next, last] = transcribe(engine, clip);
  EXPECT_FALSE(next.results.empty());
}

TEST(SphinxFileThreads, TheVariableTakesWholeCountsFromOneToTheMaximum) {
  struct Case {
    const char* value;
    std::optional<int> count;
  };
  for (Case c : {Case{"1", 1}, Case{"3", 3}, Case{"064", 64}, Case{"0", std::nullopt}, Case{"65", std::nullopt},
                 Case{"-2", std::nullopt}, Case{"+2", std::nullopt}, Case{"2 ", std::nullopt},
                 Case{"two", std::nullopt}, Case{"", std::nullopt}, Case{"99999999999", std::nullopt}}) {
    EXPECT_EQ(parseDecodingThreads(c.value), c.count) << '"' << c.value << '"';
  }
  EXPECT_GE(onlineProcessors(), 1);
}

TEST(SphinxFileThreads, TheCountFollowsProcessorsAtMostFourAndAQuarterOfTheMemory) {
  constexpr std::int64_t gib = std::int64_t{1} << 30;
  struct Case {
    std::optional<int> requested;
    int processors;
    std::optional<std::int64_t> available;
    int count;
    std::string limitedBy;
  };
  constexpr std::int64_t mib = std::int64_t{1} << 20;
  for (Case c : {Case{std::nullopt, 2, 20 * gib, 2, "processors"}, Case{std::nullopt, 1, 20 * gib, 1, "processors"},
                 Case{std::nullopt, 32, 20 * gib, 4, "maximum"}, Case{std::nullopt, 4, std::nullopt, 4, "processors"},
                 // A quarter of 640 MiB holds the loaded decoder (110 MiB) and one forked copy (40 MiB).
                 Case{std::nullopt, 16, 640 * mib, 2, "memory"}, Case{std::nullopt, 16, gib, 4, "maximum"},
                 Case{std::nullopt, 16, 100 * mib, 1, "memory"}, Case{std::nullopt, 16, 0, 1, "memory"},
                 Case{8, 2, 20 * gib, 8, "variable"}, Case{64, 2, 2 * gib, 11, "memory"},
                 Case{3, 64, 640 * mib, 2, "memory"}, Case{64, 2, std::nullopt, 64, "variable"}}) {
    ThreadChoice choice = chooseDecodingThreads(c.requested, c.processors, c.available);
    EXPECT_EQ(choice.count, c.count) << c.processors << " processors, requested " << c.requested.value_or(0);
    EXPECT_EQ(choice.limitedBy, c.limitedBy) << c.processors << " processors, requested " << c.requested.value_or(0);
  }
  ASSERT_TRUE(availableMemory());
  EXPECT_GT(*availableMemory(), 0);
}

}  // namespace
}  // namespace tolva::sphinx
