#include "platform/scripted/scripted_analyzer.hpp"

#include <chrono>
#include <cmath>

#include "concurrency/sleep.hpp"
#include "platform/platform_error.hpp"

namespace tolva::scripted {

using std::chrono::milliseconds;

ScriptedAnalyzer::ScriptedAnalyzer(TranscriberModules modules, AnalyzerScript script)
    : modules_(std::move(modules)), script_(std::move(script)) {}

ScriptedAnalyzer::~ScriptedAnalyzer() {
  // The tasks wait on the cancel token, not on their own: stop them through it.
  cancelSource_.request_stop();
}

// Words reach only the modules that asked for them, as with the real engine.
void ScriptedAnalyzer::deliver(const TranscriberResult& result) {
  for (const auto& module : modules_) {
    TranscriberResult copy = result;
    if (!module->preset().wordTimings) copy.words.clear();
    module->results()->yield(std::move(copy));
  }
  if (std::isfinite(result.range.end) && result.range.end > analyzedSeconds_) analyzedSeconds_ = result.range.end;
}

bool ScriptedAnalyzer::deliverResults(std::stop_token stop) {
  for (const auto& scripted : script_.results) {
    if (!sleepFor(milliseconds(scripted.delayMs), stop)) return false;
    deliver({scripted.text, {scripted.start, scripted.end}, scripted.alternatives, scripted.isFinal, scripted.words});
  }
  return true;
}

void ScriptedAnalyzer::finishResults(bool withScriptedError) {
  for (const auto& module : modules_) {
    if (withScriptedError && script_.resultsError) {
      module->results()->finish(std::make_exception_ptr(PlatformError(*script_.resultsError)));
    } else {
      module->results()->finish();
    }
  }
}

std::optional<double> ScriptedAnalyzer::analyzeSequence(AudioFile& file) {
  AudioFormat format = file.processingFormat();
  auto buffer = PcmBuffer::make(format, 4096);
  std::int64_t position = 0;
  while (buffer && position < file.length()) {
    file.read(*buffer, buffer->frameCapacity);
    if (buffer->frameLength == 0) break;
    position += buffer->frameLength;
  }
  deliverResults(cancelSource_.get_token());
  if (script_.analyzeError) throw PlatformError(*script_.analyzeError);
  if (position > 0 && format.sampleRate > 0) analyzedSeconds_ = static_cast<double>(position) / format.sampleRate;
  if (script_.noLastTime) return std::nullopt;
  if (script_.lastTime) return script_.lastTime;
  if (position == 0 || format.sampleRate <= 0) return std::nullopt;
  return static_cast<double>(position) / format.sampleRate;
}

void ScriptedAnalyzer::start(std::shared_ptr<AnalyzerInputChannel> input) {
  if (script_.startError) throw PlatformError(*script_.startError);
  auto cancel = cancelSource_.get_token();
  // The script decides the results; the input is only drained.
  inputTask_ = Task([this, input, cancel](std::stop_token) {
    while (input->next(cancel)) inputBegan_.notify();
    inputBegan_.notify();
  });
  // As with a real recognizer, nothing is heard before the first audio: the
  // timeline starts there, so results never overtake `capture-started`.
  timelineTask_ = Task([this, cancel](std::stop_token) {
    if (inputBegan_.wait(cancel)) deliverResults(cancel);
  });
}

void ScriptedAnalyzer::finalizeAndFinishThroughEndOfInput() {
  inputTask_.wait();
  timelineTask_.wait();
  if (script_.finalizeHangs) cancelled_.wait();
  sleepFor(milliseconds(script_.finalizeDelayMs), cancelSource_.get_token());
  finishResults(true);
  if (script_.finalizeError) throw PlatformError(*script_.finalizeError);
}

void ScriptedAnalyzer::cancelAndFinishNow() {
  sleepFor(milliseconds(script_.cancelDelayMs));
  cancelSource_.request_stop();
  cancelled_.notify();
  finishResults(false);
}

}  // namespace tolva::scripted
