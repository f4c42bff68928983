#include "platform/sphinx/analysis/file_analysis.hpp"

#include <cmath>
#include <deque>
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
  UtteranceWorker(DecoderLease decoder, ResultDetail detail, ResultTextWriter writeText)
      : decoder_(std::move(decoder)), detail_(detail), writeText_(std::move(writeText)) {}

  std::optional<TranscriberResult> run(Utterance& utterance) override {
    try {
      return decodeUtterance(*decoder_, utterance, detail_, writeText_);
    } catch (...) {
      decoder_.discard();  // it may have failed in the middle of an utterance
      throw;
    }
  }

 private:
  DecoderLease decoder_;
  ResultDetail detail_;
  ResultTextWriter writeText_;
};

// Hands the ready decoder to the first worker and loads one for each later one.
class WorkerFactory {
 public:
  WorkerFactory(FileDecoders& decoders, ResultDetail detail, ResultTextWriter writeText)
      : decoders_(decoders), detail_(detail), writeText_(std::move(writeText)) {}

  std::unique_ptr<UtterancePool::Worker> operator()() {
    DecoderLease decoder;
    {
      std::lock_guard lock(mutex_);
      decoder = std::move(decoders_.first);
    }
    if (!decoder) decoder = decoders_.load();
    return std::make_unique<UtteranceWorker>(std::move(decoder), detail_, writeText_);
  }

 private:
  FileDecoders& decoders_;
  ResultDetail detail_;
  ResultTextWriter writeText_;
  std::mutex mutex_;
};

// How far the delivered results reach, in samples at the decoder's rate, as
// seconds in `seconds`. Submitting, delivering and settling may come from
// different threads.
class DeliveredAudio {
 public:
  explicit DeliveredAudio(std::atomic<double>& seconds) : seconds_(seconds) {}

  // Before the utterance starting at `startSample` is submitted.
  void submitting(std::int64_t startSample) {
    std::lock_guard lock(mutex_);
    outstanding_.push_back(startSample);
  }
  // The oldest outstanding utterance's results have been delivered.
  void delivered() {
    std::lock_guard lock(mutex_);
    if (!outstanding_.empty()) outstanding_.pop_front();
    publish();
  }
  // Everything before `sample` has been submitted or dropped.
  void settled(std::int64_t sample) {
    std::lock_guard lock(mutex_);
    settled_ = sample;
    publish();
  }

 private:
  void publish() {
    std::int64_t reached = outstanding_.empty() ? settled_ : outstanding_.front();
    double seconds = static_cast<double>(reached) / Decoder::sampleRate;
    if (seconds > seconds_.load()) seconds_.store(seconds);
  }

  std::atomic<double>& seconds_;
  std::mutex mutex_;
  std::deque<std::int64_t> outstanding_;
  std::int64_t settled_ = 0;
};

}  // namespace

std::optional<double> analyzeFile(AudioFile& file, FileDecoders decoders, VoiceActivity& detector,
                                  const SplitterSettings& splitting, const ResultSink& sink,
                                  const ResultTextWriter& writeText, std::atomic<double>& analysedSeconds,
                                  std::stop_token stop) {
  AudioFormat format = file.processingFormat();
  PcmBuffer buffer = makeChunkBuffer(format);
  auto threads = static_cast<std::size_t>(std::max(decoders.threads, 1));
  WorkerFactory factory(decoders, {sink.wantsAlternatives(), sink.wantsWordTimings()}, writeText);
  DeliveredAudio delivered(analysedSeconds);
  UtterancePool pool(
      threads, threads * utterancesPerDecoder, [&factory] { return factory(); },
      [&sink, &delivered](std::optional<TranscriberResult>&& result) {
        if (result) sink.deliver(*result);
        delivered.delivered();
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
      delivered.submitting(utterance.startSample);
      accepted = pool.submit(std::move(utterance));
    }
    utterances.clear();
    delivered.settled(splitter.settledSamples());
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
  if (!stop.stop_requested()) analysedSeconds.store(seconds);
  return seconds;
}

}  // namespace tolva::sphinx
