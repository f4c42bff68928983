#pragma once
// The bytes of an audio stream as they arrive: a FIFO or any readable file.
// The path is opened without waiting for a writer (a FIFO's open would
// otherwise block until one comes), and each read waits in poll() on the
// data and on a wake-up descriptor, so cancel() ends a read that waits for a
// writer who never writes, from any thread.
//
// A FIFO ends when its writer closes it after writing; before any writer has
// come, poll() reports nothing and the read keeps waiting.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolva::ffmpeg {

class StreamInput {
 public:
  // Throws PlatformError when the path cannot be opened or is a directory.
  explicit StreamInput(const std::string& path);
  ~StreamInput();
  StreamInput(const StreamInput&) = delete;
  StreamInput& operator=(const StreamInput&) = delete;

  static constexpr std::ptrdiff_t ended = 0;
  static constexpr std::ptrdiff_t wasCancelled = -1;

  // Blocks until bytes arrive and reads up to `size` of them: the count, or
  // `ended` at the end of the stream, or `wasCancelled`. Throws PlatformError
  // on a read error. One thread at a time.
  std::ptrdiff_t read(void* into, std::size_t size);

  // Bytes already read that the next reads return again, first: what a look
  // at the stream's start took from it.
  void giveBack(std::vector<std::uint8_t> bytes);

  // Any thread, any number of times.
  void cancel();
  bool cancelled() const { return cancelled_.load(); }

  std::int64_t bytesRead() const { return bytesRead_; }

 private:
  int fd_ = -1;
  int wake_ = -1;
  std::atomic<bool> cancelled_{false};
  std::int64_t bytesRead_ = 0;
  std::vector<std::uint8_t> givenBack_;
  std::size_t givenBackRead_ = 0;
};

}  // namespace tolva::ffmpeg
