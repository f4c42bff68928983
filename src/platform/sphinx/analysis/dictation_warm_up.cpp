#include "platform/sphinx/analysis/dictation_warm_up.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace tolva::sphinx {
namespace {

constexpr int quietMs = 200;
constexpr int voicedMs = 600;
constexpr std::size_t pieceSamples = Decoder::sampleRate / 10;

// Faint noise, then a vowel-like harmonic series on a gliding 110-150 Hz
// pitch: loud enough for the voice activity detector to take it for speech.
std::vector<std::int16_t> warmUpAudio() {
  std::vector<std::int16_t> samples;
  std::uint32_t noise = 12345;
  auto faintNoise = [&] {
    noise = noise * 1664525u + 1013904223u;
    return static_cast<double>(noise >> 24) - 128.0;
  };
  for (int i = 0; i < Decoder::sampleRate * quietMs / 1000; ++i)
    samples.push_back(static_cast<std::int16_t>(faintNoise() / 8));
  double phase = 0;
  int voiced = Decoder::sampleRate * voicedMs / 1000;
  for (int i = 0; i < voiced; ++i) {
    double pitch = 110 + 40 * std::sin(std::numbers::pi * i / voiced);
    phase += 2 * std::numbers::pi * pitch / Decoder::sampleRate;
    double value = 0;
    for (int harmonic = 1; harmonic <= 24; ++harmonic) value += std::sin(harmonic * phase) / harmonic;
    samples.push_back(static_cast<std::int16_t>(std::clamp(5000 * value + faintNoise(), -32768.0, 32767.0)));
  }
  return samples;
}

}  // namespace

void warmUp(Decoder& decoder) {
  std::vector<std::int16_t> samples = warmUpAudio();
  decoder.beginAnalysis();
  decoder.startUtterance();
  // In pieces, as live decoding feeds it, reading the partial hypothesis after each.
  for (std::size_t at = 0; at < samples.size(); at += pieceSamples) {
    decoder.process(std::span(samples).subspan(at, std::min(pieceSamples, samples.size() - at)));
    if (decoder.inSpeech()) decoder.words();
  }
  decoder.endUtterance();
  decoder.words();
}

}  // namespace tolva::sphinx
