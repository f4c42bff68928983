// The cepstral mean's access to the recognizer's private structures: known
// frames fed through the library's own feature computation must give the
// mean that the prior and those frames make. A library whose feat_t or cmn_t
// is laid out otherwise fails here, loudly, instead of misleading a decoder.

#include "platform/sphinx/decoder/cepstral_mean.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tolva::sphinx {
namespace {

constexpr int cepstra = 13;

struct FeaturesDeleter {
  void operator()(feat_t* features) const { feat_free(features); }
};
using Features = std::unique_ptr<feat_t, FeaturesDeleter>;

// The streaming front end's feature computation: live mean normalisation.
Features liveFeatures() { return Features(feat_init("1s_c_d_dd", CMN_LIVE, FALSE, AGC_NONE, FALSE, cepstra)); }

// Feeds `count` copies of `frame` through the library's live feature path.
void feed(feat_t* features, const std::vector<float>& frame, int count) {
  std::vector<std::vector<float>> frames(count, frame);
  std::vector<mfcc_t*> rows;
  for (auto& row : frames) rows.push_back(row.data());
  mfcc_t*** out = feat_array_alloc(features, count + feat_window_size(features));
  int32 frameCount = count;
  feat_s2mfc2feat_live(features, rows.data(), &frameCount, TRUE, FALSE, out);
  feat_array_free(out);
  ASSERT_EQ(frameCount, count) << "the library took fewer frames than it was given";
}

std::vector<float> ramp(float start, float step) {
  std::vector<float> values(cepstra);
  for (int i = 0; i < cepstra; ++i) values[i] = start + step * static_cast<float>(i);
  return values;
}

TEST(CepstralMean, FindsTheFeatureComputationsMean) {
  Features features = liveFeatures();
  ASSERT_TRUE(features);
  CepstralMean mean = CepstralMean::of(features.get());
  ASSERT_TRUE(mean.exists());
  EXPECT_EQ(mean.length(), cepstra);
  EXPECT_FALSE(CepstralMean::of(nullptr).exists());
}

// 100 frames of prior at P, then 50 frames at F: the mean is (100 P + 50 F) / 150.
TEST(CepstralMean, APriorWeighsAsItsFramesAgainstTheAudioThatFollows) {
  Features features = liveFeatures();
  ASSERT_TRUE(features);
  CepstralMean mean = CepstralMean::of(features.get());
  const std::vector<float> prior = ramp(10.0f, -0.5f);
  const std::vector<float> frame = ramp(4.0f, 0.25f);
  mean.reset(prior, 100);
  EXPECT_EQ(mean.current(), prior);
  feed(features.get(), frame, 50);
  mean.refresh();
  std::vector<float> found = mean.current();
  ASSERT_EQ(found.size(), static_cast<std::size_t>(cepstra));
  for (int i = 0; i < cepstra; ++i) {
    EXPECT_NEAR(found[i], (100 * prior[i] + 50 * frame[i]) / 150, 1e-4) << "cepstrum " << i;
  }
}

// A reset forgets the audio before it: the same prior and frames give the
// same mean again.
TEST(CepstralMean, AResetForgetsEarlierAudio) {
  Features features = liveFeatures();
  ASSERT_TRUE(features);
  CepstralMean mean = CepstralMean::of(features.get());
  const std::vector<float> prior = ramp(8.0f, 0.1f);
  mean.reset(prior, 20);
  feed(features.get(), ramp(-3.0f, 1.0f), 200);
  mean.refresh();
  mean.reset(prior, 20);
  feed(features.get(), ramp(2.0f, 0.0f), 20);
  mean.refresh();
  std::vector<float> found = mean.current();
  for (int i = 0; i < cepstra; ++i) EXPECT_NEAR(found[i], (prior[i] + 2.0f) / 2, 1e-4) << "cepstrum " << i;
}

}  // namespace
}  // namespace tolva::sphinx
