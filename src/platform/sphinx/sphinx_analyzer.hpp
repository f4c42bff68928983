#pragma once
// SphinxAnalyzer: the analysis of the PocketSphinx engine over its transcriber
// modules (all of one locale). Creating one is cheap; the model is looked up
// and a decoder taken from the cache when analysis begins, and a missing or
// broken model is reported then.
//   analyzeSequence: file analysis driven from the calling thread
//                    (file_analysis.hpp) on `fileThreads` decoders, or as
//                    many as decodingThreads() says when that is 0; final
//                    results only.
//   start:           live decoding on the analyzer's own thread
//                    (live_decoding.hpp), volatile results for modules that
//                    want them.
//
// Thread contract: as SpeechAnalyzer. The decoding thread shares ownership of
// all it touches and is joined by the destructor, which also ends the results.

#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "platform/sphinx/decoder/decoder_cache.hpp"
#include "platform/sphinx/analysis/decoding_progress.hpp"
#include "platform/sphinx/analysis/live_decoding.hpp"
#include "platform/sphinx/analysis/result_sink.hpp"
#include "platform/store/model_store.hpp"

namespace tolva::sphinx {

class SphinxAnalyzer final : public SpeechAnalyzer {
 public:
  SphinxAnalyzer(TranscriberModules modules, std::shared_ptr<store::ModelStore> store,
                 std::shared_ptr<DecoderCache> cache, int fileThreads = 0);
  ~SphinxAnalyzer() override;

  std::optional<double> analyzeSequence(AudioFile& file) override;
  double analyzedSeconds() const override { return progress_.seconds(); }
  void start(std::shared_ptr<AnalyzerInputChannel> input) override;
  void finalizeAndFinishThroughEndOfInput() override;
  void cancelAndFinishNow() override;

 private:
  enum class Phase { idle, analysingFile, live };

  // Moves from idle to `next`; throws when an analysis was already begun.
  void begin(Phase next);
  // A hold on the locale's model; throws PlatformError when none is installed.
  std::shared_ptr<const store::ModelReadLease> readModel() const;

  TranscriberModules modules_;
  std::shared_ptr<store::ModelStore> store_;
  std::shared_ptr<DecoderCache> cache_;
  int fileThreads_;
  ResultSink sink_;
  std::stop_source cancel_;
  DecodingProgress progress_;

  std::mutex mutex_;
  Phase phase_ = Phase::idle;
  std::shared_ptr<LiveDecodingState> live_;
  std::jthread worker_;  // last member: joined before the rest goes
};

}  // namespace tolva::sphinx
