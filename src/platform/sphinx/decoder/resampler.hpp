#pragma once
// Resampler: converts a mono float stream from one sample rate to another with
// a windowed-sinc low-pass filter, keeping its state across calls, so a stream
// fed in chunks gives the same output as fed whole. Output sample n is the
// input signal at time n / outputRate: the time base is kept exactly, which
// the word times of file analysis rely on.
//
// Thread contract: one thread at a time.

#include <cstdint>
#include <span>
#include <vector>

namespace tolva::sphinx {

class Resampler {
 public:
  // Both rates must be positive and finite.
  Resampler(double inputRate, double outputRate);

  // Appends the output the input so far makes available.
  void push(std::span<const float> input, std::vector<float>& output);
  // Appends the rest of the output at the end of the stream (the signal is
  // taken as silent after its last sample): ceil(inputs * outputRate /
  // inputRate) samples in all.
  void flush(std::vector<float>& output);

 private:
  float interpolate(double position) const;
  // Produces every output sample whose window ends before `availableEnd`.
  void produce(std::int64_t availableEnd, std::vector<float>& output);

  double step_;                 // input samples per output sample
  double cutoff_;               // in cycles per input sample
  int halfWidth_;               // filter half-width in input samples
  std::vector<float> kernel_;   // one side of the filter, tableResolution points per input sample
  std::vector<float> history_;  // input samples from historyStart_ on
  std::int64_t historyStart_ = 0;
  std::int64_t inputCount_ = 0;
  std::int64_t outputCount_ = 0;
};

}  // namespace tolva::sphinx
