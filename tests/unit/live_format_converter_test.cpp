// AnalyzerFormatConverter: capacity, the input protocol, silent failures.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "live/sources/analyzer_format_converter.hpp"
#include "platform/platform_error.hpp"
#include "platform/scripted/scripted_platform.hpp"

namespace tolva {
namespace {

const AudioFormat mic48k{48000, 1, CommonFormat::float32};
const AudioFormat analyzer16k{16000, 1, CommonFormat::float32};

PcmBuffer buffer(const AudioFormat& format, std::uint32_t frames) {
  PcmBuffer b = *PcmBuffer::make(format, frames);
  b.frameLength = frames;
  return b;
}

TEST(AnalyzerFormatConverter, CapacityIsScaledFramesPlusHeadroom) {
  EXPECT_EQ(AnalyzerFormatConverter::capacityFor(4096, 1.0), 4160u);
  EXPECT_EQ(AnalyzerFormatConverter::capacityFor(4096, 16000.0 / 48000.0), 1429u);
  EXPECT_EQ(AnalyzerFormatConverter::capacityFor(0, 3.0), 64u);
  EXPECT_EQ(AnalyzerFormatConverter::capacityFor(4096, std::nan("")), std::nullopt);
  EXPECT_EQ(AnalyzerFormatConverter::capacityFor(4096, INFINITY), std::nullopt);
  EXPECT_EQ(AnalyzerFormatConverter::capacityFor(4'000'000'000u, 2.0), std::nullopt);
}

TEST(AnalyzerFormatConverter, ConvertsBufferByBufferWithoutLosingTheStream) {
  scripted::ScriptedPlatform scripted(scripted::Scenario{});
  auto converter = AnalyzerFormatConverter::make(scripted.platform().audio, mic48k, analyzer16k);
  ASSERT_NE(converter, nullptr);
  std::uint32_t total = 0;
  for (int i = 0; i < 3; ++i) {
    auto out = converter->convert(buffer(mic48k, 4096));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->format, analyzer16k);
    EXPECT_LE(out->frameLength, 1429u);
    total += out->frameLength;
  }
  EXPECT_EQ(total, 4096u);  // 12288 frames at a third of the rate, none lost between buffers
}

TEST(AnalyzerFormatConverter, NoConverterNoObject) {
  scripted::Scenario scenario;
  scenario.converterFails = true;
  scripted::ScriptedPlatform scripted(scenario);
  EXPECT_EQ(AnalyzerFormatConverter::make(scripted.platform().audio, mic48k, analyzer16k), nullptr);
}

TEST(AnalyzerFormatConverter, NoFramesOutMeansNothing) {
  scripted::Scenario scenario;
  scenario.converterOutputsNothing = true;
  scripted::ScriptedPlatform scripted(scenario);
  auto converter = AnalyzerFormatConverter::make(scripted.platform().audio, mic48k, analyzer16k);
  ASSERT_NE(converter, nullptr);
  EXPECT_EQ(converter->convert(buffer(mic48k, 4096)), std::nullopt);
}

// Asks for input until told there is none, records what it heard, and may fail.
class ProbingConverter final : public AudioConverter {
 public:
  ProbingConverter(std::vector<ConverterInputStatus>& heard, bool fails) : heard_(heard), fails_(fails) {}
  void convert(PcmBuffer& output, const ConverterInputBlock& input) override {
    for (int i = 0; i < 3; ++i) {
      ConverterInputStatus status = ConverterInputStatus::endOfStream;
      const PcmBuffer* given = input(status);
      heard_.push_back(status);
      if (given) output.frameLength = std::min(given->frameLength, output.frameCapacity);
    }
    if (fails_) throw PlatformError("conversion failed");
  }

 private:
  std::vector<ConverterInputStatus>& heard_;
  bool fails_;
};

class ProbingAudio final : public AudioSystem {
 public:
  ProbingAudio(std::vector<ConverterInputStatus>& heard, bool fails) : heard_(heard), fails_(fails) {}
  std::unique_ptr<AudioFile> openFile(const std::string&) override { return nullptr; }
  std::unique_ptr<AudioConverter> makeConverter(const AudioFormat&, const AudioFormat&) override {
    return std::make_unique<ProbingConverter>(heard_, fails_);
  }
  std::unique_ptr<CaptureEngine> makeCaptureEngine(const std::string&) override { return nullptr; }
  std::vector<CaptureSource> captureSources() override { return {}; }
  std::unique_ptr<AudioStream> openStream(const AudioStreamRequest&) override { return nullptr; }

 private:
  std::vector<ConverterInputStatus>& heard_;
  bool fails_;
};

TEST(AnalyzerFormatConverter, HandsTheInputOverOnceAndNeverSignalsTheEnd) {
  std::vector<ConverterInputStatus> heard;
  ProbingAudio audio(heard, false);
  auto converter = AnalyzerFormatConverter::make(audio, analyzer16k, analyzer16k);
  auto out = converter->convert(buffer(analyzer16k, 100));
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(out->frameCapacity, 164u);
  EXPECT_EQ(out->frameLength, 100u);
  using S = ConverterInputStatus;
  EXPECT_EQ(heard, (std::vector<S>{S::haveData, S::noDataNow, S::noDataNow}));
  converter->convert(buffer(analyzer16k, 10));  // a new buffer is handed over again
  EXPECT_EQ(heard[3], S::haveData);
}

TEST(AnalyzerFormatConverter, AConversionErrorIsDroppedSilently) {
  std::vector<ConverterInputStatus> heard;
  ProbingAudio audio(heard, true);
  auto converter = AnalyzerFormatConverter::make(audio, analyzer16k, analyzer16k);
  EXPECT_EQ(converter->convert(buffer(analyzer16k, 100)), std::nullopt);
}

}  // namespace
}  // namespace tolva
