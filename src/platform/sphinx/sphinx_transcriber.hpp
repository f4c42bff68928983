#pragma once
// SphinxTranscriber: a transcriber module of the PocketSphinx engine, which is
// its locale, its preset and its results channel. The analyzer does the work.
//
// Thread contract: any thread.

#include <memory>

#include "platform/speech.hpp"

namespace tolva::sphinx {

class SphinxTranscriber final : public SpeechTranscriber {
 public:
  SphinxTranscriber(Locale locale, TranscriberPreset preset)
      : locale_(std::move(locale)), preset_(std::move(preset)), results_(ResultChannel::make()) {}

  const Locale& locale() const override { return locale_; }
  const TranscriberPreset& preset() const override { return preset_; }
  std::shared_ptr<ResultChannel> results() override { return results_; }

 private:
  Locale locale_;
  TranscriberPreset preset_;
  std::shared_ptr<ResultChannel> results_;
};

}  // namespace tolva::sphinx
