// How the PocketSphinx engine turns any PCM audio into decoder samples: the
// resampler keeps the time base and the signal and removes what the lower rate
// cannot carry; the conversion to 16-bit is exact for 16-bit audio.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder/decoder_samples.hpp"
#include "platform/sphinx/decoder/resampler.hpp"

namespace tolva::sphinx {
namespace {

std::vector<float> sine(double frequency, double rate, double seconds, double amplitude = 0.5) {
  std::vector<float> samples(static_cast<std::size_t>(rate * seconds));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate));
  }
  return samples;
}

std::vector<float> resampleWhole(const std::vector<float>& input, double from, double to) {
  Resampler resampler(from, to);
  std::vector<float> output;
  resampler.push(input, output);
  resampler.flush(output);
  return output;
}

// Root mean square of the middle half, away from the edges.
double middleRms(const std::vector<float>& samples) {
  double sum = 0;
  std::size_t begin = samples.size() / 4;
  std::size_t end = samples.size() * 3 / 4;
  for (std::size_t i = begin; i < end; ++i) sum += samples[i] * samples[i];
  return std::sqrt(sum / static_cast<double>(end - begin));
}

std::size_t risingZeroCrossings(const std::vector<float>& samples) {
  std::size_t count = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) count += samples[i - 1] < 0 && samples[i] >= 0 ? 1 : 0;
  return count;
}

TEST(SphinxResampler, KeepsLengthToneAndLevelAndGivesTheSameOutputInChunks) {
  for (double from : {8000.0, 22050.0, 44100.0, 48000.0}) {
    SCOPED_TRACE(from);
    std::vector<float> input = sine(1000, from, 1.0);
    std::vector<float> whole = resampleWhole(input, from, 16000);
    EXPECT_EQ(whole.size(), static_cast<std::size_t>(std::ceil(input.size() * 16000 / from)));
    EXPECT_NEAR(middleRms(whole), 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(static_cast<double>(risingZeroCrossings(whole)), 1000, 2);

    Resampler chunked(from, 16000);
    std::vector<float> pieces;
    for (std::size_t at = 0, size = 1; at < input.size(); at += size, size = size * 7 % 997 + 1) {
      std::size_t take = std::min(size, input.size() - at);
      chunked.push(std::span(input).subspan(at, take), pieces);
    }
    chunked.flush(pieces);
    EXPECT_EQ(pieces, whole);
  }
}

TEST(SphinxResampler, RemovesToneAboveTheNewNyquistFrequency) {
  // 12 kHz at 48 kHz would fold to 4 kHz at 16 kHz.
  std::vector<float> output = resampleWhole(sine(12000, 48000, 1.0), 48000, 16000);
  EXPECT_LT(middleRms(output), 0.005);
}

TEST(SphinxDecoderSamples, SixteenBitAudioComesBackExactlyAndChannelsAreAveraged) {
  PcmBuffer buffer = *PcmBuffer::make({16000, 2, CommonFormat::float32}, 6);
  buffer.channels[0] = {-1.0f, 32767 / 32768.0f, 0.25f, 2.0f, NAN, -3.0f};
  buffer.channels[1] = {-1.0f, 32767 / 32768.0f, -0.25f, 2.0f, NAN, -3.0f};
  buffer.frameLength = 5;  // the sixth frame is not valid
  DecoderSamples converter;
  std::vector<std::int16_t> samples;
  converter.convert(buffer, samples);
  converter.finish(samples);
  EXPECT_EQ(samples, (std::vector<std::int16_t>{-32768, 32767, 0, 32767, 0}));
}

TEST(SphinxDecoderSamples, OtherRatesAreResampledToSixteenKilohertz) {
  PcmBuffer buffer = *PcmBuffer::make({44100, 1, CommonFormat::float32}, 44100);
  buffer.channels[0] = sine(440, 44100, 1.0);
  buffer.frameLength = 44100;
  DecoderSamples converter;
  std::vector<std::int16_t> samples;
  converter.convert(buffer, samples);
  converter.finish(samples);
  EXPECT_EQ(samples.size(), 16000u);
}

TEST(SphinxDecoderSamples, AFormatWithoutChannelsOrRateIsRefused) {
  DecoderSamples converter;
  std::vector<std::int16_t> samples;
  PcmBuffer noRate{{0, 1, CommonFormat::float32}, 4, 4, {std::vector<float>(4)}};
  PcmBuffer noChannels{{16000, 0, CommonFormat::float32}, 4, 4, {}};
  EXPECT_THROW(converter.convert(noRate, samples), PlatformError);
  EXPECT_THROW(converter.convert(noChannels, samples), PlatformError);
  EXPECT_TRUE(samples.empty());
}

}  // namespace
}  // namespace tolva::sphinx
