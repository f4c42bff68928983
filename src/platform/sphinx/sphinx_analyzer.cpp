#include "platform/sphinx/sphinx_analyzer.hpp"

#include "platform/platform_error.hpp"
#include "platform/sphinx/analysis/decoding_threads.hpp"
#include "platform/sphinx/analysis/file_analysis.hpp"
#include "platform/sphinx/analysis/voice_activity.hpp"

namespace tolva::sphinx {

SphinxAnalyzer::SphinxAnalyzer(TranscriberModules modules, std::shared_ptr<store::ModelStore> store,
                               std::shared_ptr<DecoderCache> cache, int fileThreads)
    : modules_(std::move(modules)),
      store_(std::move(store)),
      cache_(std::move(cache)),
      fileThreads_(fileThreads),
      sink_(modules_) {}

SphinxAnalyzer::~SphinxAnalyzer() {
  cancel_.request_stop();
  if (worker_.joinable()) worker_.join();
  sink_.finish();
}

void SphinxAnalyzer::begin(Phase next) {
  std::lock_guard lock(mutex_);
  if (phase_ != Phase::idle) throw PlatformError("this analyzer has already been started");
  phase_ = next;
}

std::shared_ptr<const store::ModelReadLease> SphinxAnalyzer::readModel() const {
  if (modules_.empty() || !modules_.front()) throw PlatformError("the analyzer has no transcriber module");
  const Locale& locale = modules_.front()->locale();
  for (const auto& module : modules_) {
    if (!module || !sameLocale(module->locale(), locale)) {
      throw PlatformError("the transcriber modules of one analyzer must share one locale");
    }
  }
  std::shared_ptr<const store::ModelReadLease> lease = store_ ? store_->readModel(locale) : nullptr;
  if (!lease) throw PlatformError("no speech model is installed for " + locale.identifier());
  return lease;
}

std::optional<double> SphinxAnalyzer::analyzeSequence(AudioFile& file) {
  begin(Phase::analysingFile);
  if (cancel_.stop_requested()) return std::nullopt;
  try {
    // Held to the end: more decoders load from the files while it runs, and
    // a release meanwhile leaves them in place.
    std::shared_ptr<const store::ModelReadLease> lease = readModel();
    const store::ModelFiles& files = lease->files();
    FileDecoders decoders;
    decoders.first = cache_->acquire(files, DecoderKind::wholeUtterance);
    decoders.load = [cache = cache_, lease] { return cache->acquire(lease->files(), DecoderKind::wholeUtterance); };
    decoders.threads = fileThreads_ > 0 ? fileThreads_ : decodingThreads();
    const SphinxSettings& settings = cache_->settings();
    VoiceActivity detector(files, settings.wholeUtterance.voice);
    return analyzeFile(file, std::move(decoders), detector, settings.splitter, sink_, resultTextWriter(settings.text),
                       progress_, cancel_.get_token());
  } catch (...) {
    sink_.finish(std::current_exception());
    throw;
  }
}

void SphinxAnalyzer::start(std::shared_ptr<AnalyzerInputChannel> input) {
  if (!input) throw PlatformError("the analyzer was started without an input");
  begin(Phase::live);
  auto state = std::make_shared<LiveDecodingState>();
  try {
    state->decoder = cache_->acquire(readModel()->files(), DecoderKind::streaming);  // loads all it needs here
  } catch (...) {
    sink_.finish(std::current_exception());  // nobody waits for results that cannot come
    throw;
  }
  state->sink = sink_;
  state->writeText = resultTextWriter(cache_->settings().text);
  state->input = std::move(input);
  std::lock_guard lock(mutex_);
  live_ = state;
  worker_ = std::jthread([state, stop = cancel_.get_token()] { runLiveDecoding(*state, stop); });
}

void SphinxAnalyzer::finalizeAndFinishThroughEndOfInput() {
  std::shared_ptr<LiveDecodingState> live;
  {
    std::lock_guard lock(mutex_);
    live = live_;
  }
  if (!live) {
    // A file analysis has delivered everything already; or nothing was begun.
    sink_.finish();
    return;
  }
  if (!live->done.wait(cancel_.get_token())) return;  // cancelled: the cancel ended the results
  if (live->error) std::rethrow_exception(live->error);
}

void SphinxAnalyzer::cancelAndFinishNow() {
  cancel_.request_stop();
  sink_.finish();
}

}  // namespace tolva::sphinx
