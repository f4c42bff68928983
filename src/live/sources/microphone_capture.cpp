#include "live/sources/microphone_capture.hpp"

#include "output/log.hpp"

namespace tolva {

MicrophoneCapture::MicrophoneCapture(std::unique_ptr<CaptureEngine> engine)
    : engine_(std::move(engine)),
      fed_(std::make_shared<AudioFedCounter>()),
      haltLatch_(std::make_shared<LiveOnceLatch>()) {}

MicrophoneCapture::~MicrophoneCapture() { stop(); }

AudioFormat MicrophoneCapture::inputFormat() { return engine_->inputFormat(); }

void MicrophoneCapture::start(std::shared_ptr<AnalyzerFormatConverter> converter, std::shared_ptr<ContinuationBox> sink,
                              std::function<void()> onHalted) {
  AudioFormat format = engine_->inputFormat();
  // Kept thin: convert, count, hand over. Audio converted after the sink was
  // detached still counts as fed.
  auto tap = [converter = std::move(converter), fed = fed_, sink = std::move(sink)](const PcmBuffer& buffer) {
    auto converted = converter->convert(buffer);
    if (!converted) return;
    fed->add(converted->durationMs());
    sink->yieldIfOpen(AnalyzerInput{std::move(*converted)});
  };
  engine_->installTap(micTapBufferFrames, format, std::move(tap));
  tapInstalled_ = true;

  engine_->prepare();
  engine_->start();
  log("session.micEngineStarted");

  // The engine outlives its observers: stop() removes them before it goes.
  auto observer = [engine = engine_.get(), latch = haltLatch_, onHalted = std::move(onHalted)] {
    if (engine->isRunning()) return;  // a change the graph survived
    if (!latch->claim()) return;      // reported already, or stopped
    log("session.micEngineHalted");
    onHalted();
  };
  configObserver_ = engine_->addConfigurationObserver(observer);
  // A change posted between the start and the registration reached no
  // observer: look once more, now that later ones will be seen.
  observer();
}

void MicrophoneCapture::stop() {
  haltLatch_->spend();
  if (configObserver_) {
    engine_->removeConfigurationObserver(*configObserver_);
    configObserver_.reset();
  }
  if (tapInstalled_) {
    engine_->removeTap();
    tapInstalled_ = false;
  }
  if (engine_->isRunning()) {
    engine_->stop();
    log("session.micEngineStopped");
  }
}

}  // namespace tolva
