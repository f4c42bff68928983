#pragma once
// The scripted speech engine: answers every speech operation from a Scenario.
// Inventory state (installed and reserved locales, statuses) changes as
// reserve, release and installs run, like a real inventory would.

#include <memory>
#include <mutex>
#include <thread>

#include "platform/scripted/scenario.hpp"
#include "platform/speech.hpp"

namespace tolva::scripted {

// The inventory's mutable state, shared with installation requests.
struct InventoryState {
  std::mutex mutex;
  std::vector<std::string> installed;
  std::vector<std::string> reserved;
  std::map<std::string, StatusScript> status;
};

class ScriptedInventory final : public AssetInventory {
 public:
  explicit ScriptedInventory(const Scenario& scenario);
  AssetStatus status(const TranscriberModules& modules) override;
  std::vector<Locale> reservedLocales() override;
  std::int64_t maximumReservedLocales() override { return scenario_.maximumReservedLocales; }
  bool reserve(const Locale& locale) override;
  bool release(const Locale& locale) override;
  std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const TranscriberModules& modules) override;
  // Installed as of now, so that installs show up.
  std::vector<Locale> installedLocales();

 private:
  AssetStatus statusOf(const SpeechTranscriber& module);

  const Scenario& scenario_;
  std::shared_ptr<InventoryState> state_;
};

class ScriptedSpeechEngine final : public SpeechEngine {
 public:
  explicit ScriptedSpeechEngine(const Scenario& scenario);
  bool isAvailable() override { return scenario_.available; }
  std::vector<Locale> supportedLocales() override;
  std::vector<Locale> installedLocales() override;
  std::optional<Locale> supportedLocale(const Locale& equivalentTo) override;
  std::shared_ptr<SpeechTranscriber> makeTranscriber(const Locale& locale, const TranscriberPreset& preset) override;
  std::shared_ptr<SpeechAnalyzer> makeAnalyzer(const TranscriberModules& modules) override;
  std::optional<AudioFormat> bestAvailableAudioFormat(const TranscriberModules&) override {
    return scenario_.bestAudioFormat;
  }
  // Nothing to load; logs "scripted.prepareDictation" so tests see the
  // request and, with preparedAfterMs, "scripted.dictationPrepared" from its
  // own thread that long after, unless silenced by then.
  void prepareDictation(const Locale& locale) override;
  void silencePreparations() override;
  AssetInventory& assetInventory() override { return inventory_; }

 private:
  const Scenario& scenario_;
  ScriptedInventory inventory_;
  std::mutex mutex_;
  std::size_t analyzersMade_ = 0;
  struct Reports {
    std::mutex mutex;
    bool silenced = false;
  };
  std::shared_ptr<Reports> reports_ = std::make_shared<Reports>();
  std::vector<std::jthread> preparations_;  // last: joined first
};

}  // namespace tolva::scripted
