#pragma once
// MicrophoneCapture: records the default input device for one session. It taps
// the capture engine, converts every tapped buffer to the analyzer format,
// hands it to the session's input through a ContinuationBox, counts the audio
// it fed, and reports once, through onHalted, when the engine stops by itself
// (the device changed or went away).
//
// Thread contract: start and stop come from the runner's thread, one at a
// time. The tap runs on the engine's capture thread and takes the fed counter's
// lock and then, separately, the sink's; the configuration observer runs on
// the thread that posts the change and touches only the halt latch. Both
// share ownership of what they touch, and the engine promises neither runs
// after its removal returned.

#include <functional>
#include <memory>
#include <optional>

#include "live/sources/analyzer_format_converter.hpp"
#include "live/session/session_state_boxes.hpp"
#include "platform/audio.hpp"

namespace tolva {

inline constexpr std::uint32_t micTapBufferFrames = 4096;

class MicrophoneCapture {
 public:
  // Nothing is opened until start.
  explicit MicrophoneCapture(std::unique_ptr<CaptureEngine> engine);
  // Stops as a safety net; the owner normally has stopped already.
  ~MicrophoneCapture();
  MicrophoneCapture(const MicrophoneCapture&) = delete;
  MicrophoneCapture& operator=(const MicrophoneCapture&) = delete;

  // The engine's input format on bus 0; throws when no device can be reached.
  AudioFormat inputFormat();

  // Taps, starts the engine and watches its configuration. When the engine
  // fails to start its error is thrown with the tap left installed; stop()
  // removes it.
  void start(std::shared_ptr<AnalyzerFormatConverter> converter, std::shared_ptr<ContinuationBox> sink,
             std::function<void()> onHalted);

  // Idempotent; also after a failed start or none. No halt is reported after it.
  void stop();

  // Milliseconds of converted audio fed, at the analyzer's rate; read after stop.
  double fedTotal() const { return fed_->total(); }

 private:
  std::unique_ptr<CaptureEngine> engine_;
  bool tapInstalled_ = false;
  std::shared_ptr<AudioFedCounter> fed_;
  std::optional<int> configObserver_;
  std::shared_ptr<LiveOnceLatch> haltLatch_;
};

}  // namespace tolva
