#include "platform/sphinx/analysis/file_analysis.hpp"

#include <cmath>
#include <mutex>
#include <vector>

#include "concurrency/ordered_pool.hpp"
#include "platform/platform_error.hpp"
#include "platform/sphinx/analysis/utterance_decoding.hpp"
#include "platform/sphinx/analysis/utterance_splitter.hpp"
#include "platform/sphinx/decoder/decoder_samples.hpp"

namespace tolva::sphinx {
namespace {

constexpr double chunkSeconds = 0.5;
// Utterances in flight per decoder: enough that a decoder finishing a short
// one finds the next waiting while another works on a long one.
constexpr std::size_t utterancesPerDecoder = 3;

using UtterancePool = OrderedPool<Utterance, std::optional<TranscriberResult>>;

PcmBuffer makeChunkBuffer(const AudioFormat& format) {
  double frames = std::isfinite(format.sampleRate) ? std::ceil(format.sampleRate * chunkSeconds) : 0;
  std::optional<PcmBuffer> buffer;
  if (frames >= 1 && frames <= 1 << 20) buffer = PcmBuffer::make(format, static_cast<std::uint32_t>(frames));
  if (!buffer) throw PlatformError("cannot analyse audio in the format " + formatDescription(format));
  return std::move(*buffer);
}

class UtteranceWorker final : public UtterancePool::Worker {
 public:
  UtteranceWorker(DecoderLease decoder, ResultDetail detail, ResultTextWriter writeText, DecodingProgress& progress)
      : decoder_(std::move(decoder)), detail_(detail), writeText_(std::move(writeText)), progress_(progress) {}

  std::optional<TranscriberResult> run(Utterance& utterance) override {
    progress_.decodingBegins(utterance.startSample);
    try {
      std::optional<TranscriberResult> result = decodeUtterance(*decoder_, utterance, detail_, writeText_);
      progress_.decodingEnds(utterance.startSample);
      return result;
    } catch (...) {
      progress_.decodingEnds(utterance.startSample);
      decoder_.discard();  // it may have failed in the middle of an utterance
      throw;
    }
  }

 private:
  DecoderLease decoder_;
  ResultDetail detail_;
  ResultTextWriter writeText_;
  DecodingProgress& progress_;
};

// Hands the ready decoder to the first worker and loads one for each later one.
class WorkerFactory {
 public:
  WorkerFactory(FileDecoders& decoders, ResultDetail detail, ResultTextWriter writeText, DecodingProgress& progress)
      : decoders_(decoders), detail_(detail), writeText_(std::move(writeText)), progress_(progress) {}

  std::unique_ptr<UtterancePool::Worker> operator()() {
    DecoderLease decoder;
    {
      std::lock_guard lock(mutex_);
      decoder = std::move(decoders_.first);
    }
    if (!decoder) decoder = decoders_.load();
    return std::make_unique<UtteranceWorker>(std::move(decoder), detail_, writeText_, progress_);
  }

 private:
  FileDecoders& decoders_;
  ResultDetail detail_;
  ResultTextWriter writeText_;
  DecodingProgress& progress_;
  std::mutex mutex_;
};

}  // namespace

std::optional<double> analyzeFile(AudioFile& file, FileDecoders decoders, VoiceActivity& detector,
                                  const SplitterSettings& splitting, const ResultSink& sink,
                                  const ResultTextWriter& writeText, DecodingProgress& progress,
                                  std::stop_token stop) {
  AudioFormat format = file.processingFormat();
  PcmBuffer buffer = makeChunkBuffer(format);
  auto threads = static_cast<std::size_t>(std::max(decoders.threads, 1));
  WorkerFactory factory(decoders, {sink.wantsAlternatives(), sink.wantsWordTimings()}, writeText, progress);
  UtterancePool pool(
      threads, threads * utterancesPerDecoder, [&factory] { return factory(); },
      [&sink, &progress](std::optional<TranscriberResult>&& result) {
        if (result) sink.deliver(*result);
        progress.delivered();
      },
      stop);
  DecoderSamples converter;
  UtteranceSplitter splitter(detector, splitting);
  std::vector<std::int16_t> samples;
  std::vector<Utterance> utterances;
  auto submitAll = [&] {
    bool accepted = true;
    for (Utterance& utterance : utterances) {
      if (!accepted) break;
      progress.submitting(utterance.startSample, static_cast<std::int64_t>(utterance.samples.size()));
      accepted = pool.submit(std::move(utterance));
    }
    utterances.clear();
    progress.settled(splitter.settledSamples());
    return accepted;
  };
  std::int64_t framesRead = 0;
  bool reading = true;
  while (reading && !stop.stop_requested()) {
    file.read(buffer, buffer.frameCapacity);
    if (buffer.frameLength == 0) break;
    framesRead += buffer.frameLength;
    samples.clear();
    converter.convert(buffer, samples);
    splitter.push(samples, utterances);
    reading = submitAll();  // false once decoding failed or was stopped
  }
  if (reading && !stop.stop_requested()) {
    samples.clear();
    converter.finish(samples);
    splitter.push(samples, utterances);
    splitter.finish(utterances);
    submitAll();
  }
  pool.finish();
  if (framesRead == 0) return std::nullopt;
  double seconds = static_cast<double>(framesRead) / format.sampleRate;
  if (!stop.stop_requested()) progress.finished(seconds);
  return seconds;
}

}  // namespace tolva::sphinx
