// Recognition guard: the word error rate of the real engine, run through the
// product's own paths (a file analysis as transcribe runs it; the replay feed
// of listen, unpaced, in 20 ms chunks), on a small fixed part of the
// evaluation's dev half: every 8th sentence spoken by each of Festival's two
// voices, their telephone-band and 20 dB noise copies, and the librivox clips.
// The audio is made and the words scored by bench/eval/guard.py, with the
// evaluation's own recipes and rules. Speech synthesis and recognition are
// deterministic, so the rates are fixed for a given engine and settings; each
// set has its own bound a few points above today's figure, so a change that
// makes recognition worse on one voice or one channel alone fails here.
// bench/eval/run.py measures the full sets.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/model_store_test_support.hpp"
#include "live/sources/file_decoding.hpp"
#include "platform/ffmpeg/file_audio_system.hpp"
#include "platform/sphinx/sphinx_engine.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace tolva {
namespace {

namespace fs = std::filesystem;
using namespace tolva::test;

const fs::path guardScript = fs::path(TOLVA_SOURCE_DIR) / "bench/eval/guard.py";

// Today's figures plus about 3 points (errors/words, 2026-12-11).
struct Bound {
  const char* set;
  double batch;      // transcribe
  double dictation;  // listen replay, 20 ms chunks
};
const Bound bounds[] = {
    // transcribe / listen 20 ms today, of 205 words (librivox 71):
    {"slt", 0.089, 0.079},          // 12, 10 errors
    {"kal", 0.147, 0.167},          // 24, 28
    {"telephone", 0.371, 0.654},    // 70, 128
    {"noise 20 dB", 0.215, 0.289},  // 38, 53
    {"librivox", 0.298, 0.326},     // 19, 21
};

struct Spoken {
  std::string set;
  std::string wav;
  std::string reference;
};

struct Rate {
  std::size_t errors = 0;
  std::size_t words = 0;
  double value() const { return words ? static_cast<double>(errors) / static_cast<double>(words) : 1.0; }
};

ToolRun runGuardScript(const std::vector<std::string>& args, const std::string& input = "") {
  ToolOptions options;
  options.stdinText = input;
  options.timeoutSeconds = 600;
  std::vector<std::string> all{guardScript.string()};
  all.insert(all.end(), args.begin(), args.end());
  return runTool("/usr/bin/python3", all, options);
}

// The guard's audio, made once for all its tests.
class RecognitionGuard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    ToolRun made = runGuardScript({"audio", (dir_->path() / "audio").string()});
    ASSERT_EQ(made.status, 0) << made.err;
    for (const std::string& line : lines(made.out)) {
      nlohmann::json item = nlohmann::json::parse(line);
      spoken_.push_back({item["set"], item["wav"], item["reference"]});
    }
  }

  static void TearDownTestSuite() {
    spoken_.clear();
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    // 20 sentences by each voice, 20 telephone and 20 noisy copies, 5 clips.
    ASSERT_EQ(spoken_.size(), 85u) << "bench/eval/guard.py made other sets";
    // The store looks into XDG_DATA_HOME; keep it out of the real one.
    const char* home = getenv("XDG_DATA_HOME");
    savedHome_ = home ? std::optional<std::string>(home) : std::nullopt;
    setenv("XDG_DATA_HOME", (dir_->path() / "data").c_str(), 1);
    // The guard measures recognition: the words as recognised, not as written.
    setenv("TOLVA_SPEECH_TEXT", "raw", 1);
    engine_ = sphinx::makeSphinxEngine(store::test::makeModelStore());
  }

  void TearDown() override {
    engine_.reset();
    savedHome_ ? setenv("XDG_DATA_HOME", savedHome_->c_str(), 1) : unsetenv("XDG_DATA_HOME");
    unsetenv("TOLVA_SPEECH_TEXT");
  }

  // Decodes every file, scores the texts with the evaluation's rules and
  // returns the rate of each set, recording each as a test property.
  template <typename Decode>
  std::map<std::string, Rate> rates(Decode decode) {
    std::string scoringInput;
    for (const Spoken& one : spoken_) {
      nlohmann::json line{{"reference", one.reference}, {"hypothesis", decode(one.wav).text}};
      scoringInput += line.dump() + "\n";
    }
    ToolRun scored = runGuardScript({"score"}, scoringInput);
    EXPECT_EQ(scored.status, 0) << scored.err;
    std::vector<std::string> counts = lines(scored.out);
    EXPECT_EQ(counts.size(), spoken_.size());
    std::map<std::string, Rate> rates;
    for (std::size_t i = 0; i < counts.size() && i < spoken_.size(); ++i) {
      std::size_t errors = 0;
      std::size_t words = 0;
      std::istringstream(counts[i]) >> errors >> words;
      rates[spoken_[i].set].errors += errors;
      rates[spoken_[i].set].words += words;
    }
    for (const auto& [set, rate] : rates) {
      RecordProperty(set + " errors/words", std::to_string(rate.errors) + "/" + std::to_string(rate.words));
    }
    return rates;
  }

  static void expectWithinBounds(const std::map<std::string, Rate>& found, double Bound::*which) {
    for (const Bound& bound : bounds) {
      auto rate = found.find(bound.set);
      ASSERT_NE(rate, found.end()) << bound.set;
      EXPECT_LE(rate->second.value(), bound.*which)
          << bound.set << ": " << rate->second.errors << " errors in " << rate->second.words << " words";
    }
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::vector<Spoken> spoken_;
  std::unique_ptr<AudioSystem> audio_ = ffmpeg::makeFileAudioSystem();
  std::optional<std::string> savedHome_;
  std::unique_ptr<SpeechEngine> engine_;
};

TEST_F(RecognitionGuard, TranscribeStaysWithinItsBounds) {
  auto found =
      rates([&](const std::string& wav) { return decodeAsTranscribe(*engine_, *audio_, wav, Locale("en_US")); });
  expectWithinBounds(found, &Bound::batch);
}

TEST_F(RecognitionGuard, ReplayIn20MsChunksStaysWithinItsBounds) {
  auto found =
      rates([&](const std::string& wav) { return decodeAsReplay(*engine_, *audio_, wav, 20, Locale("en_US")); });
  expectWithinBounds(found, &Bound::dictation);
}

}  // namespace
}  // namespace tolva
