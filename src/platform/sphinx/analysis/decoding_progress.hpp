#pragma once
// DecodingProgress: how much of a file's audio has been decoded, for a
// progress bar. Utterances are decoded whole, one call each, and on several
// decoders at once, so the audio whose results have been delivered in time
// order moves in steps of whole utterances and lags the work by one
// utterance per decoder. So the count also takes in the utterances being
// decoded:
//   - everything before the oldest utterance still outstanding (delivered,
//     or dropped as a pause), or everything settled while none is;
//   - each outstanding utterance that is decoded, whole;
//   - each one being decoded, in the share its decoding time so far makes of
//     the time it should take at the speed decoding has shown on this file
//     (a prior until one utterance is done), at most `partialCap` of it until
//     it is done.
// The count never goes back and never passes the audio settled so far.
//
// Thread contract: any thread; each call is atomic.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace tolva::sphinx {

class DecodingProgress {
 public:
  using Clock = std::chrono::steady_clock;

  // Decoding seconds per second of audio assumed before any is measured: a
  // little slower than one decoder of the en-us model on a current desktop.
  static constexpr double priorSecondsPerSecond = 0.25;
  // The share of an utterance being decoded that can be counted before its
  // decoding ends, so an estimate that runs fast waits instead of jumping back.
  static constexpr double partialCap = 0.9;

  explicit DecodingProgress(std::function<Clock::time_point()> now = Clock::now) : now_(std::move(now)) {}

  // Before the utterance of `samples` samples at `startSample` is submitted.
  void submitting(std::int64_t startSample, std::int64_t samples);
  // A decoder takes up the outstanding utterance at `startSample`.
  void decodingBegins(std::int64_t startSample);
  // Its decoding has ended (with or without words, or with a failure).
  void decodingEnds(std::int64_t startSample);
  // The oldest outstanding utterance's results have been delivered.
  void delivered();
  // Everything before `sample` has been submitted or dropped.
  void settled(std::int64_t sample);
  // The whole file is done: its `seconds` count from now on.
  void finished(double seconds);

  // The seconds of audio counted as decoded now.
  double seconds() const;

 private:
  struct Outstanding {
    std::int64_t startSample = 0;
    std::int64_t samples = 0;
    enum class State { waiting, decoding, decoded } state = State::waiting;
    Clock::time_point began{};
  };

  Outstanding* find(std::int64_t startSample);
  double countedSamples(Clock::time_point now) const;

  std::function<Clock::time_point()> now_;
  mutable std::mutex mutex_;
  std::deque<Outstanding> outstanding_;
  std::int64_t settled_ = 0;
  // What the decoded utterances took, for the speed.
  double decodedSeconds_ = 0;
  std::int64_t decodedSamples_ = 0;
  mutable double reported_ = 0;  // seconds, so the count never goes back
};

}  // namespace tolva::sphinx
