#pragma once
// CepstralMean: the streaming front end's running cepstral mean, the one place
// that reaches into the recognizer's private structures. The library's API
// reads, sets and re-estimates the mean, but cannot say how much the mean
// weighs against the audio that follows; for that this unit writes the running
// sum and frame count of `cmn_t` (sphinxbase/cmn.h) and reads the feature
// computation's `cmn_struct` (feat_t, sphinxbase/feat.h).
//
// It relies on the layout of those two structs in libsphinxbase and
// libpocketsphinx 5prealpha as Debian 12 packages them (0.8+5prealpha+1-16
// and 0.8+5prealpha+1-15). tests/unit/sphinx/cepstral_mean_test.cpp feeds
// known frames through the library and checks the mean it finds, so a library
// with another layout fails there before it misleads a decoder.
//
// Thread contract: one thread at a time, the decoder's.

#include <sphinxbase/cmn.h>
#include <sphinxbase/feat.h>

#include <span>
#include <vector>

namespace tolva::sphinx {

class CepstralMean {
 public:
  // The running mean of a feature computation, or nothing when it keeps none.
  static CepstralMean of(feat_t* features);
  explicit CepstralMean(cmn_t* mean) : mean_(mean) {}

  bool exists() const { return mean_ != nullptr; }
  int length() const;
  std::vector<float> current() const;
  // Sets the mean to `mean` (length() values), weighing as many frames of
  // audio as `priorFrames`: the frames that follow move it by their share.
  void reset(std::span<const float> mean, int priorFrames);
  // Re-estimates the mean from the frames seen so far and the prior.
  void refresh();

 private:
  cmn_t* mean_;  // owned by the feature computation
};

}  // namespace tolva::sphinx
