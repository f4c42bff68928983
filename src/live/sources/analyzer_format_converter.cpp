#include "live/sources/analyzer_format_converter.hpp"

#include <cmath>
#include <limits>

namespace tolva {
namespace {

constexpr std::uint32_t headroomFrames = 64;

}  // namespace

std::unique_ptr<AnalyzerFormatConverter> AnalyzerFormatConverter::make(AudioSystem& audio, const AudioFormat& source,
                                                                       const AudioFormat& analyzer) {
  auto converter = audio.makeConverter(source, analyzer);
  if (!converter) return nullptr;
  double ratio = analyzer.sampleRate / source.sampleRate;
  return std::unique_ptr<AnalyzerFormatConverter>(new AnalyzerFormatConverter(std::move(converter), analyzer, ratio));
}

std::optional<std::uint32_t> AnalyzerFormatConverter::capacityFor(std::uint32_t frames, double rateRatio) {
  double scaled = std::trunc(static_cast<double>(frames) * rateRatio);
  constexpr double largest = std::numeric_limits<std::uint32_t>::max() - headroomFrames;
  if (!std::isfinite(scaled) || scaled < 0 || scaled > largest) return std::nullopt;
  return static_cast<std::uint32_t>(scaled) + headroomFrames;
}

std::optional<PcmBuffer> AnalyzerFormatConverter::convert(const PcmBuffer& input) {
  auto capacity = capacityFor(input.frameLength, rateRatio_);
  if (!capacity) return std::nullopt;
  auto output = PcmBuffer::make(outputFormat_, *capacity);
  if (!output) return std::nullopt;
  // The input is handed over once; every later request hears "no data now",
  // never "end of stream", so the converter is not flushed between buffers.
  bool handedOver = false;
  ConverterInputBlock provide = [&](ConverterInputStatus& status) -> const PcmBuffer* {
    if (handedOver) {
      status = ConverterInputStatus::noDataNow;
      return nullptr;
    }
    handedOver = true;
    status = ConverterInputStatus::haveData;
    return &input;
  };
  try {
    converter_->convert(*output, provide);
  } catch (...) {
    return std::nullopt;
  }
  if (output->frameLength == 0) return std::nullopt;
  return output;
}

}  // namespace tolva
