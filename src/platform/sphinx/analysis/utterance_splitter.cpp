#include "platform/sphinx/analysis/utterance_splitter.hpp"

#include <algorithm>

namespace tolva::sphinx {
namespace {

constexpr std::size_t frameSamples = VoiceActivity::frameSamples;

}  // namespace

void UtteranceSplitter::push(std::span<const std::int16_t> samples, std::vector<Utterance>& done) {
  region_.insert(region_.end(), samples.begin(), samples.end());
  while ((frameEnergy_.size() + 1) * frameSamples <= region_.size()) analyseFrame(done);
}

void UtteranceSplitter::finish(std::vector<Utterance>& done) {
  auto collected = static_cast<std::int64_t>(region_.size());
  if (regionHasSpeech_ && collected > 0) done.push_back({regionStart_, std::move(region_)});
  regionStart_ += collected;
  region_.clear();
  frameEnergy_.clear();
  regionHasSpeech_ = false;
  inSpeech_ = false;
}

void UtteranceSplitter::analyseFrame(std::vector<Utterance>& done) {
  std::span<const std::int16_t> frame(region_.data() + frameEnergy_.size() * frameSamples, frameSamples);
  bool speech = detector_.feedFrame(frame);
  double energy = 0;
  for (std::int16_t sample : frame) energy += static_cast<double>(sample) * sample;
  frameEnergy_.push_back(energy);

  bool speechEnded = inSpeech_ && !speech;
  inSpeech_ = speech;
  if (speech) regionHasSpeech_ = true;

  if (speechEnded) {
    // The detector waited silenceFramesToEnd silent frames: cut halfway back.
    std::size_t back = static_cast<std::size_t>(detector_.silenceFramesToEnd() / 2);
    cutAfter(frameEnergy_.size() > back ? frameEnergy_.size() - back : frameEnergy_.size(), done);
  } else if (frameEnergy_.size() >= settings_.maxFrames) {
    cutAfter(quietestFrameInSecondHalf() + 1, done);
  } else if (!regionHasSpeech_ && frameEnergy_.size() >= 2 * settings_.leadFrames) {
    dropFrames(frameEnergy_.size() - settings_.leadFrames);
  }
}

void UtteranceSplitter::cutAfter(std::size_t frames, std::vector<Utterance>& done) {
  std::size_t samples = frames * frameSamples;
  if (regionHasSpeech_) done.push_back({regionStart_, {region_.begin(), region_.begin() + samples}});
  dropFrames(frames);
  // What remains holds speech only when speech is still running (a forced cut).
  regionHasSpeech_ = inSpeech_;
}

void UtteranceSplitter::dropFrames(std::size_t frames) {
  std::size_t samples = frames * frameSamples;
  region_.erase(region_.begin(), region_.begin() + samples);
  frameEnergy_.erase(frameEnergy_.begin(), frameEnergy_.begin() + frames);
  regionStart_ += static_cast<std::int64_t>(samples);
}

std::size_t UtteranceSplitter::quietestFrameInSecondHalf() const {
  auto half = frameEnergy_.begin() + frameEnergy_.size() / 2;
  return static_cast<std::size_t>(std::min_element(half, frameEnergy_.end()) - frameEnergy_.begin());
}

}  // namespace tolva::sphinx
