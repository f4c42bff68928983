#include "platform/sphinx/decoder/cepstral_mean.hpp"

#include <type_traits>

namespace tolva::sphinx {

// The library is built with floating-point features (no FIXED_POINT).
static_assert(std::is_same_v<mfcc_t, float>);

CepstralMean CepstralMean::of(feat_t* features) { return CepstralMean(features ? features->cmn_struct : nullptr); }

int CepstralMean::length() const { return mean_ ? mean_->veclen : 0; }

std::vector<float> CepstralMean::current() const {
  std::vector<float> mean(length());
  if (mean_) cmn_live_get(mean_, mean.data());
  return mean;
}

void CepstralMean::reset(std::span<const float> mean, int priorFrames) {
  if (!mean_ || static_cast<int>(mean.size()) != mean_->veclen) return;
  cmn_live_set(mean_, mean.data());
  // The running sum holds the mean as that many frames of audio.
  for (int i = 0; i < mean_->veclen; ++i) mean_->sum[i] = mean[i] * static_cast<float>(priorFrames);
  mean_->nframe = priorFrames;
}

void CepstralMean::refresh() {
  if (mean_) cmn_live_update(mean_);
}

}  // namespace tolva::sphinx
