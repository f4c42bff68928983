#include "platform/sphinx/sphinx_engine.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "output/log.hpp"
#include "platform/platform_error.hpp"
#include "platform/sphinx/analysis/dictation_warm_up.hpp"
#include "platform/sphinx/decoder/decoder.hpp"
#include "platform/sphinx/decoder/decoder_cache.hpp"
#include "platform/sphinx/sphinx_analyzer.hpp"
#include "platform/sphinx/sphinx_transcriber.hpp"

namespace tolva::sphinx {
namespace {

class SphinxEngine final : public SpeechEngine {
 public:
  SphinxEngine(std::shared_ptr<store::ModelStore> store, std::shared_ptr<DecoderCache> cache, int fileThreads)
      : store_(std::move(store)), cache_(std::move(cache)), fileThreads_(fileThreads) {}

  // The library is linked in; nothing at run time can make it unusable.
  bool isAvailable() override { return true; }

  std::vector<Locale> supportedLocales() override { return store_->supportedLocales(); }
  std::vector<Locale> installedLocales() override { return store_->installedLocales(); }
  std::optional<Locale> supportedLocale(const Locale& equivalentTo) override {
    return store_->supportedLocale(equivalentTo);
  }

  std::shared_ptr<SpeechTranscriber> makeTranscriber(const Locale& locale, const TranscriberPreset& preset) override {
    return std::make_shared<SphinxTranscriber>(locale, preset);
  }

  std::shared_ptr<SpeechAnalyzer> makeAnalyzer(const TranscriberModules& modules) override {
    return std::make_shared<SphinxAnalyzer>(modules, store_, cache_, fileThreads_);
  }

  std::optional<AudioFormat> bestAvailableAudioFormat(const TranscriberModules& modules) override {
    if (modules.empty()) return std::nullopt;
    std::vector<Locale> supported = store_->supportedLocales();
    for (const auto& module : modules) {
      bool isSupported = module && std::any_of(supported.begin(), supported.end(), [&](const Locale& locale) {
                           return sameLocale(locale, module->locale());
                         });
      if (!isSupported) return std::nullopt;
    }
    return AudioFormat{Decoder::sampleRate, 1, CommonFormat::float32};
  }

  void prepareDictation(const Locale& locale) override {
    std::lock_guard lock(mutex_);
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::jthread thread([store = store_, cache = cache_, reports = reports_, locale, done] {
      prepare(*store, *cache, *reports, locale);
      done->store(true);
    });
    preparations_.push_back({std::move(thread), std::move(done)});
  }

  // Joins the preparations that have ended, so that none is left unjoined at
  // exit; a load still running is left to run (quit never waits for it).
  void silencePreparations() override {
    {
      std::lock_guard lock(reports_->mutex);
      reports_->silenced = true;
    }
    std::lock_guard lock(mutex_);
    for (Preparation& preparation : preparations_) {
      if (preparation.done->load() && preparation.thread.joinable()) preparation.thread.join();
    }
  }

  AssetInventory& assetInventory() override { return *store_; }

 private:
  // Whether the preparations may still log; a line is written under the
  // lock, so none can follow silencePreparations().
  struct PreparationReports {
    std::mutex mutex;
    bool silenced = false;

    void log(std::string_view event, LogFields fields) {
      std::lock_guard lock(mutex);
      if (!silenced) tolva::log(event, std::move(fields));
    }
  };

  // The body of a preparation thread: it touches only what it shares.
  static void prepare(store::ModelStore& store, DecoderCache& cache, PreparationReports& reports,
                      const Locale& locale) {
    auto started = std::chrono::steady_clock::now();
    try {
      std::shared_ptr<const store::ModelReadLease> model = store.readModel(locale);
      if (!model) return;
      bool loaded = cache.preload(model->files(), DecoderKind::streaming, [](Decoder& decoder) { warmUp(decoder); });
      std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started;
      reports.log("speech.dictationPrepared",
                  {{"locale", locale.identifier()}, {"loaded", loaded}, {"ms", took.count()}});
    } catch (...) {
      reports.log("speech.dictationPrepareFailed",
                  {{"locale", locale.identifier()}, {"error", describe(std::current_exception())}});
    }
  }

  std::shared_ptr<store::ModelStore> store_;
  std::shared_ptr<DecoderCache> cache_;
  int fileThreads_;
  std::shared_ptr<PreparationReports> reports_ = std::make_shared<PreparationReports>();
  struct Preparation {
    std::jthread thread;
    std::shared_ptr<std::atomic<bool>> done;  // set as its last act
  };
  std::mutex mutex_;
  // Joined when the engine goes, after their load (in tests); the shipped tool
  // never destroys its engine, so its exit never waits for one.
  std::vector<Preparation> preparations_;
};

}  // namespace

std::unique_ptr<SpeechEngine> makeSphinxEngine(std::unique_ptr<store::ModelStore> store) {
  return makeSphinxEngine(std::move(store), std::make_shared<DecoderCache>());
}

std::unique_ptr<SpeechEngine> makeSphinxEngine(std::unique_ptr<store::ModelStore> store,
                                               std::shared_ptr<DecoderCache> cache, int fileDecodingThreads) {
  if (!store) throw PlatformError("the speech engine needs a model store");
  if (!cache) cache = std::make_shared<DecoderCache>();
  return std::make_unique<SphinxEngine>(std::move(store), std::move(cache), fileDecodingThreads);
}

}  // namespace tolva::sphinx
