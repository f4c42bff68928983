#pragma once
// The progress of a file transcription, for parents that show a progress bar.
//
// Progress is the audio the analyzer has taken from the file, counted as it
// passes through the audio file seam: it holds whatever the engine does with
// the audio (read ahead, decode on several threads). A reporter task logs
//   {"event":"transcribe.progress","audioSec":<seconds read>,"fraction":<of the duration, at most 1>}
// at once and then every 500 ms until it is stopped.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "concurrency/task.hpp"
#include "output/log.hpp"
#include "platform/audio.hpp"

namespace tolva {

inline constexpr std::chrono::milliseconds transcribeProgressInterval{500};

// The fields of one "transcribe.progress" line. A duration of zero counts as
// fully read; a sample rate that is not a positive number reads as no audio.
LogFields transcribeProgressFields(std::int64_t framesRead, double sampleRate, double durationSec);

// Frames read so far, shared by the counting file and the reporter.
struct FramesRead {
  std::atomic<std::int64_t> frames{0};
};

// Passes every call on to `file` and counts the frames its reads deliver.
// Reads may come from any thread the engine uses, one at a time.
class FrameCountingFile final : public AudioFile {
 public:
  FrameCountingFile(AudioFile& file, std::shared_ptr<FramesRead> count) : file_(file), count_(std::move(count)) {}

  AudioFormat processingFormat() const override { return file_.processingFormat(); }
  std::int64_t length() const override { return file_.length(); }
  void read(PcmBuffer& buffer, std::uint32_t frameCount) override;

 private:
  AudioFile& file_;
  std::shared_ptr<FramesRead> count_;
};

// Counts what is read through file() and reports it until stopped. The
// reporter is joined by stop(), finish() and the destructor, so no line of it
// can follow the command's document or its failure.
class TranscribeProgress {
 public:
  TranscribeProgress(AudioFile& file, double durationSec);
  ~TranscribeProgress() { stop(); }
  TranscribeProgress(const TranscribeProgress&) = delete;
  TranscribeProgress& operator=(const TranscribeProgress&) = delete;

  // The file to hand to the analyzer.
  AudioFile& file() { return counting_; }

  // Ends the reporter and waits for it; the sleep between lines is cut short.
  void stop();

  // Ends the reporter, then logs the final count once.
  void finish();

 private:
  std::shared_ptr<FramesRead> count_;
  FrameCountingFile counting_;
  double sampleRate_;
  double durationSec_;
  Task reporter_;
  bool finished_ = false;
};

}  // namespace tolva
