#include "platform/sphinx/analysis/file_analysis.hpp"

#include <cmath>
#include <mutex>
#include <vector>

#include "concurrency/ordered_pool.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"
#include "platform/sphinx/analysis/forked_decoder.hpp"
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

// Decodes utterances with one decoder: a leased one in this process, or one
// in a forked process.
class UtteranceWorker final : public UtterancePool::Worker {
 public:
  struct Context {
    ResultDetail detail;
    ResultTextWriter writeText;
    DecodingProgress& progress;
  };

  UtteranceWorker(DecoderLease decoder, const Context& context) : leased_(std::move(decoder)), context_(context) {}
  UtteranceWorker(std::unique_ptr<ForkedDecoder> forked, const Context& context)
      : forked_(std::move(forked)), context_(context) {}

  std::optional<TranscriberResult> run(Utterance& utterance) override {
    context_.progress.decodingBegins(utterance.startSample);
    UtteranceWords decoded;
    try {
      decoded = forked_ ? forked_->decode(utterance.samples)
                        : decodeWords(*leased_, utterance.samples, context_.detail.alternatives);
    } catch (...) {
      context_.progress.decodingEnds(utterance.startSample);
      if (leased_) leased_.discard();  // it may have failed in the middle of an utterance
      throw;
    }
    context_.progress.decodingEnds(utterance.startSample);
    return utteranceResult(utterance, std::move(decoded), context_.detail, context_.writeText);
  }

 private:
  DecoderLease leased_;
  std::unique_ptr<ForkedDecoder> forked_;
  const Context& context_;
};

// Hands the ready decoder to the first worker and a forked copy of it to each
// later one; loads a decoder of its own for a worker when no process could
// be forked.
class WorkerFactory {
 public:
  WorkerFactory(FileDecoders& decoders, UtteranceWorker::Context context)
      : decoders_(decoders), context_(std::move(context)) {
    // Now, while no worker uses the ready decoder.
    try {
      for (int i = 1; decoders_.first && i < decoders_.threads; ++i) {
        forked_.push_back(std::make_unique<ForkedDecoder>(*decoders_.first, context_.detail.alternatives));
      }
    } catch (const PlatformError& error) {
      log("speech.forkFailed", {{"error", error.what()}});
    }
  }

  std::unique_ptr<UtterancePool::Worker> operator()() {
    DecoderLease decoder;
    std::unique_ptr<ForkedDecoder> forked;
    {
      std::lock_guard lock(mutex_);
      if (decoders_.first) {
        decoder = std::move(decoders_.first);
      } else if (!forked_.empty()) {
        forked = std::move(forked_.back());
        forked_.pop_back();
      }
    }
    if (forked) return std::make_unique<UtteranceWorker>(std::move(forked), context_);
    if (!decoder) decoder = decoders_.load();
    return std::make_unique<UtteranceWorker>(std::move(decoder), context_);
  }

 private:
  FileDecoders& decoders_;
  UtteranceWorker::Context context_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<ForkedDecoder>> forked_;
};

}  // namespace

std::optional<double> analyzeFile(AudioFile& file, FileDecoders decoders, VoiceActivity& detector,
                                  const SplitterSettings& splitting, const ResultSink& sink,
                                  const ResultTextWriter& writeText, DecodingProgress& progress,
                                  std::stop_token stop) {
  AudioFormat format = file.processingFormat();
  PcmBuffer buffer = makeChunkBuffer(format);
  auto threads = static_cast<std::size_t>(std::max(decoders.threads, 1));
  WorkerFactory factory(decoders, {{sink.wantsAlternatives(), sink.wantsWordTimings()}, writeText, progress});
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
