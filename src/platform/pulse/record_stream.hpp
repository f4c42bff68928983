#pragma once
// A float32 record stream on one named source.
//
// The stream is pinned to its source (PA_STREAM_DONT_MOVE): without that, a
// removed device silently moves the stream to another source (a monitor of
// the null sink) and the analyzer is fed silence; pinned, the stream fails
// ("Entity killed") within milliseconds and the loss is reported.
//
// Thread contract: created and destroyed with the main loop's lock held (or on
// the loop's thread, even from inside its own callbacks); the callbacks run on
// the loop's thread.

#include <pulse/context.h>
#include <pulse/stream.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/audio.hpp"
#include "platform/pulse/main_loop.hpp"

namespace tolva::pulse {

class RecordStream {
 public:
  struct Callbacks {
    // Interleaved float32 bytes as the server hands them out.
    std::function<void(const void* bytes, std::size_t size)> data;
    // The stream failed or was terminated after it was ready.
    std::function<void()> ended;
  };

  // Connects and waits until the stream is ready; throws PlatformError with
  // PulseAudio's text. `fragmentFrames` asks the server for blocks of about
  // that many frames.
  RecordStream(MainLoop& loop, pa_context* context, const std::string& source, const AudioFormat& format,
               std::uint32_t fragmentFrames, Callbacks callbacks);
  // Detaches the callbacks and disconnects; nothing is called afterwards.
  ~RecordStream();
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;

 private:
  static void onState(pa_stream* stream, void* userdata);
  static void onRead(pa_stream* stream, std::size_t readable, void* userdata);

  void connect(pa_context* context, const std::string& source, const pa_sample_spec& spec,
               std::uint32_t fragmentFrames);
  void release();

  MainLoop& loop_;
  Callbacks callbacks_;
  pa_stream* stream_ = nullptr;
  bool ready_ = false;
  // Cleared on destruction; a callback that may have destroyed the stream
  // checks it before touching anything.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tolva::pulse
