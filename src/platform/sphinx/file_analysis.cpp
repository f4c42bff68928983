#include "platform/sphinx/file_analysis.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder_samples.hpp"
#include "platform/sphinx/utterance_splitter.hpp"

namespace tolva::sphinx {
namespace {

constexpr double chunkSeconds = 0.5;

constexpr std::int64_t samplesPerFrame = Decoder::sampleRate / Decoder::framesPerSecond;

double secondsAt(std::int64_t sample) { return static_cast<double>(sample) / Decoder::sampleRate; }

PcmBuffer makeChunkBuffer(const AudioFormat& format) {
  double frames = std::isfinite(format.sampleRate) ? std::ceil(format.sampleRate * chunkSeconds) : 0;
  std::optional<PcmBuffer> buffer;
  if (frames >= 1 && frames <= 1 << 20) buffer = PcmBuffer::make(format, static_cast<std::uint32_t>(frames));
  if (!buffer) throw PlatformError("cannot analyse audio in the format " + formatDescription(format));
  return std::move(*buffer);
}

class FileDecoding {
 public:
  FileDecoding(Decoder& decoder, const ResultSink& sink, std::stop_token stop)
      : decoder_(decoder), sink_(sink), stop_(std::move(stop)) {}

  void decodeAll(std::vector<Utterance>& utterances) {
    for (const Utterance& utterance : utterances) {
      if (stop_.stop_requested()) break;
      decode(utterance);
    }
    utterances.clear();
  }

 private:
  void decode(const Utterance& utterance) {
    decoder_.beginAnalysis();  // frames count from the utterance's start
    decoder_.startUtterance();
    decoder_.process(utterance.samples, true);
    decoder_.endUtterance();
    std::vector<TimedWord> words = decoder_.words();
    if (words.empty()) return;
    // Times are counted in samples and divided once, so 8.31 s reads 8.31.
    std::int64_t end = utterance.startSample + static_cast<std::int64_t>(utterance.samples.size());
    auto sampleOf = [&](int frame) {
      return std::min(end, utterance.startSample + std::int64_t{frame} * samplesPerFrame);
    };
    TranscriberResult result;
    result.text = resultText(words);
    result.range.start = secondsAt(sampleOf(words.front().startFrame));
    result.range.end = secondsAt(sampleOf(words.back().endFrame));
    result.alternatives = sink_.wantsAlternatives() ? decoder_.alternativesCount(words, maxAlternatives) : 0;
    result.isFinal = true;
    sink_.deliver(result);
  }

  Decoder& decoder_;
  const ResultSink& sink_;
  std::stop_token stop_;
};

}  // namespace

std::optional<double> analyzeFile(AudioFile& file, Decoder& decoder, VoiceActivity& detector, const ResultSink& sink,
                                  std::stop_token stop) {
  AudioFormat format = file.processingFormat();
  PcmBuffer buffer = makeChunkBuffer(format);
  DecoderSamples converter;
  UtteranceSplitter splitter(detector);
  FileDecoding decoding(decoder, sink, stop);
  std::vector<std::int16_t> samples;
  std::vector<Utterance> utterances;
  std::int64_t framesRead = 0;
  while (!stop.stop_requested()) {
    file.read(buffer, buffer.frameCapacity);
    if (buffer.frameLength == 0) break;
    framesRead += buffer.frameLength;
    samples.clear();
    converter.convert(buffer, samples);
    splitter.push(samples, utterances);
    decoding.decodeAll(utterances);
  }
  if (!stop.stop_requested()) {
    samples.clear();
    converter.finish(samples);
    splitter.push(samples, utterances);
    splitter.finish(utterances);
    decoding.decodeAll(utterances);
  }
  if (framesRead == 0) return std::nullopt;
  return static_cast<double>(framesRead) / format.sampleRate;
}

}  // namespace tolva::sphinx
