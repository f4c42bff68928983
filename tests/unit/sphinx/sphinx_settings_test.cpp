// The engine's settings: the shipped defaults are valid, and values no decoder
// could run with are refused with a message naming the part.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "platform/sphinx/decoder/decoder_settings.hpp"

namespace tolva::sphinx {
namespace {

TEST(SphinxSettings, ShippedDefaultsAreValidAndDifferPerKind) {
  SphinxSettings settings;
  EXPECT_EQ(settings.validate(), std::nullopt);
  const DecoderSettings& whole = settings.of(DecoderKind::wholeUtterance);
  const DecoderSettings& streaming = settings.of(DecoderKind::streaming);
  EXPECT_EQ(&whole, &settings.wholeUtterance);
  EXPECT_EQ(&streaming, &settings.streaming);
  // Live audio gets the tighter HMM cap and the refreshed, lighter mean.
  EXPECT_LT(streaming.maxhmmpf, whole.maxhmmpf);
  EXPECT_TRUE(streaming.mean.refreshEachPiece);
  EXPECT_FALSE(whole.mean.refreshEachPiece);
}

TEST(SphinxSettings, RefusesValuesNoDecoderRunsWith) {
  struct Case {
    const char* what;
    std::function<void(SphinxSettings&)> change;
    const char* message;  // the start of the refusal
  };
  const Case cases[] = {
      {"zero beam", [](SphinxSettings& s) { s.wholeUtterance.beam = 0; }, "whole-utterance decoder: beams"},
      {"beam above 1", [](SphinxSettings& s) { s.streaming.wbeam = 2; }, "streaming decoder: beams"},
      {"NaN beam", [](SphinxSettings& s) { s.streaming.pbeam = std::nan(""); }, "streaming decoder: beams"},
      {"negative weight", [](SphinxSettings& s) { s.wholeUtterance.lw = -1; }, "whole-utterance decoder: the language"},
      {"zero penalty", [](SphinxSettings& s) { s.streaming.wip = 0; }, "streaming decoder: the word insertion"},
      {"tiny HMM cap", [](SphinxSettings& s) { s.streaming.maxhmmpf = 10; }, "streaming decoder: the HMM cap"},
      {"negative threshold", [](SphinxSettings& s) { s.wholeUtterance.voice.threshold = -1; },
       "whole-utterance decoder: the voice threshold"},
      {"no start frames", [](SphinxSettings& s) { s.streaming.voice.speechFramesToStart = 0; },
       "streaming decoder: frames to start"},
      {"held-back frames beyond room", [](SphinxSettings& s) { s.streaming.voice.framesBeforeSpeech = 300; },
       "streaming decoder: frames to start"},
      {"one silent frame", [](SphinxSettings& s) { s.wholeUtterance.voice.silenceFramesToEnd = 1; },
       "whole-utterance decoder: silent frames"},
      {"no weight for the model's mean", [](SphinxSettings& s) { s.streaming.mean.priorFrames = 0; },
       "streaming decoder: the weight of the model's cepstral mean"},
      {"no lead", [](SphinxSettings& s) { s.splitter.leadFrames = 0; }, "splitter:"},
      {"utterances shorter than their lead", [](SphinxSettings& s) { s.splitter.maxFrames = 100; }, "splitter:"},
  };
  for (const Case& c : cases) {
    SphinxSettings settings;
    c.change(settings);
    std::optional<std::string> refusal = settings.validate();
    ASSERT_TRUE(refusal.has_value()) << c.what;
    EXPECT_EQ(refusal->rfind(c.message, 0), 0u) << c.what << ": " << *refusal;
  }
}

TEST(SphinxSettings, AcceptsTheEdgesOfTheRanges) {
  SphinxSettings settings;
  settings.wholeUtterance.beam = 1;
  settings.streaming.maxhmmpf = -1;
  settings.streaming.voice.threshold = 0;
  settings.streaming.voice.framesBeforeSpeech = 0;
  settings.streaming.mean.priorFrames = 1;
  settings.splitter.leadFrames = 25;
  settings.splitter.maxFrames = 100;
  EXPECT_EQ(settings.validate(), std::nullopt);
}

}  // namespace
}  // namespace tolva::sphinx
