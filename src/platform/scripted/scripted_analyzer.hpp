#pragma once
// The scripted transcriber and analyzer. Results are delivered on a timeline:
// each after its delay, counted from the previous one (or from the start of
// the analysis). Batch analysis delivers them on the calling thread; a live
// analysis delivers them from its own task while a second task drains the
// input.

#include <atomic>

#include "concurrency/notification.hpp"
#include "concurrency/task.hpp"
#include "platform/scripted/scenario.hpp"
#include "platform/speech.hpp"

namespace tolva::scripted {

class ScriptedTranscriber final : public SpeechTranscriber {
 public:
  ScriptedTranscriber(Locale locale, TranscriberPreset preset)
      : locale_(std::move(locale)), preset_(std::move(preset)), results_(ResultChannel::make()) {}
  const Locale& locale() const override { return locale_; }
  const TranscriberPreset& preset() const override { return preset_; }
  std::shared_ptr<ResultChannel> results() override { return results_; }

 private:
  Locale locale_;
  TranscriberPreset preset_;
  std::shared_ptr<ResultChannel> results_;
};

class ScriptedAnalyzer final : public SpeechAnalyzer {
 public:
  ScriptedAnalyzer(TranscriberModules modules, AnalyzerScript script);
  ~ScriptedAnalyzer() override;

  std::optional<double> analyzeSequence(AudioFile& file) override;
  // The end of the last result delivered with a finite end, then the whole
  // file once analyzeSequence is done.
  double analyzedSeconds() const override { return analyzedSeconds_; }
  void start(std::shared_ptr<AnalyzerInputChannel> input) override;
  void finalizeAndFinishThroughEndOfInput() override;
  void cancelAndFinishNow() override;

 private:
  // Delivers the scripted results; false when cancelled on the way.
  bool deliverResults(std::stop_token stop);
  void deliver(const TranscriberResult& result);
  void finishResults(bool withScriptedError);

  TranscriberModules modules_;
  AnalyzerScript script_;
  Notification cancelled_;
  Notification inputBegan_;  // the first audio, or the end of the input
  std::stop_source cancelSource_;
  std::atomic<double> analyzedSeconds_{0};
  Task inputTask_;
  Task timelineTask_;
};

}  // namespace tolva::scripted
