#include "platform/sphinx/decoder/resampler.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tolva::sphinx {
namespace {

constexpr int tableResolution = 256;  // kernel points per input sample
constexpr double zeroCrossings = 16;  // filter length on each side, in cutoff periods
constexpr double passband = 0.92;     // cutoff as a share of the lower Nyquist frequency

// Blackman window over [-1, 1].
double blackman(double x) {
  double phase = std::numbers::pi * (x + 1);
  return 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2 * phase);
}

}  // namespace

Resampler::Resampler(double inputRate, double outputRate) : step_(inputRate / outputRate) {
  cutoff_ = 0.5 * passband * std::min(1.0, outputRate / inputRate);
  halfWidth_ = static_cast<int>(std::ceil(zeroCrossings / (2 * cutoff_)));
  kernel_.resize(static_cast<std::size_t>(halfWidth_) * tableResolution + 2);
  for (std::size_t i = 0; i < kernel_.size(); ++i) {
    double x = static_cast<double>(i) / tableResolution;
    double argument = 2 * cutoff_ * x;
    double sinc = x == 0 ? 1 : std::sin(std::numbers::pi * argument) / (std::numbers::pi * argument);
    double window = x >= halfWidth_ ? 0 : blackman(x / halfWidth_);
    kernel_[i] = static_cast<float>(2 * cutoff_ * sinc * window);
  }
}

float Resampler::interpolate(double position) const {
  auto first = static_cast<std::int64_t>(std::floor(position)) - halfWidth_ + 1;
  double sum = 0;
  for (std::int64_t index = first; index < first + 2 * halfWidth_; ++index) {
    if (index < historyStart_ || index >= inputCount_) continue;  // silence before and after
    double distance = std::abs(position - static_cast<double>(index)) * tableResolution;
    auto lower = static_cast<std::size_t>(distance);
    if (lower + 1 >= kernel_.size()) continue;
    double fraction = distance - static_cast<double>(lower);
    double weight = kernel_[lower] + (kernel_[lower + 1] - kernel_[lower]) * fraction;
    sum += weight * history_[static_cast<std::size_t>(index - historyStart_)];
  }
  return static_cast<float>(sum);
}

void Resampler::produce(std::int64_t availableEnd, std::vector<float>& output) {
  while (true) {
    double position = static_cast<double>(outputCount_) * step_;
    if (position >= static_cast<double>(inputCount_)) break;
    if (static_cast<std::int64_t>(std::floor(position)) + halfWidth_ >= availableEnd) break;
    output.push_back(interpolate(position));
    ++outputCount_;
  }
  // Keep only what the next output's window can still reach.
  double next = static_cast<double>(outputCount_) * step_;
  std::int64_t keepFrom = std::max(historyStart_, static_cast<std::int64_t>(std::floor(next)) - halfWidth_);
  history_.erase(history_.begin(), history_.begin() + (keepFrom - historyStart_));
  historyStart_ = keepFrom;
}

void Resampler::push(std::span<const float> input, std::vector<float>& output) {
  history_.insert(history_.end(), input.begin(), input.end());
  inputCount_ += static_cast<std::int64_t>(input.size());
  produce(inputCount_, output);
}

void Resampler::flush(std::vector<float>& output) { produce(INT64_MAX, output); }

}  // namespace tolva::sphinx
