#include "platform/scripted/scripted_speech.hpp"

#include <algorithm>
#include <chrono>

#include "concurrency/sleep.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"
#include "platform/scripted/scripted_analyzer.hpp"

namespace tolva::scripted {
namespace {

std::vector<Locale> toLocales(const std::vector<std::string>& identifiers) {
  std::vector<Locale> locales;
  for (const auto& id : identifiers) locales.emplace_back(id);
  return locales;
}

bool containsLocale(const std::vector<std::string>& identifiers, const Locale& locale) {
  return std::any_of(identifiers.begin(), identifiers.end(),
                     [&](const std::string& id) { return sameLocale(Locale(id), locale); });
}

class ScriptedProgress final : public InstallProgress {
 public:
  double fractionCompleted() const override {
    std::lock_guard lock(mutex_);
    return point_.fraction;
  }
  std::int64_t completedUnitCount() const override {
    std::lock_guard lock(mutex_);
    return point_.completed;
  }
  std::int64_t totalUnitCount() const override {
    std::lock_guard lock(mutex_);
    return point_.total;
  }
  void set(const ProgressPoint& point) {
    std::lock_guard lock(mutex_);
    point_ = point;
  }

 private:
  mutable std::mutex mutex_;
  ProgressPoint point_;
};

// Plays the progress timeline, then installs the modules' locales or throws.
class ScriptedInstallRequest final : public AssetInstallationRequest {
 public:
  ScriptedInstallRequest(InstallScript script, std::vector<Locale> locales, std::shared_ptr<InventoryState> state)
      : script_(std::move(script)), locales_(std::move(locales)), state_(std::move(state)) {
    // Points at time zero hold before the download begins.
    for (const auto& point : script_.progress) {
      if (point.atMs <= 0) progress_.set(point);
    }
  }

  const InstallProgress& progress() const override { return progress_; }

  void downloadAndInstall() override {
    auto begin = std::chrono::steady_clock::now();
    for (const auto& point : script_.progress) {
      sleepUntil(begin + std::chrono::milliseconds(point.atMs));
      progress_.set(point);
    }
    sleepUntil(begin + std::chrono::milliseconds(script_.durationMs));
    if (script_.downloadError) throw PlatformError(*script_.downloadError);
    std::lock_guard lock(state_->mutex);
    for (const auto& locale : locales_) {
      if (!containsLocale(state_->installed, locale)) state_->installed.push_back(locale.identifier());
      state_->status[locale.identifier()] = StatusScript{AssetStatus::installed, {}};
    }
  }

 private:
  InstallScript script_;
  std::vector<Locale> locales_;
  std::shared_ptr<InventoryState> state_;
  ScriptedProgress progress_;
};

}  // namespace

ScriptedInventory::ScriptedInventory(const Scenario& scenario)
    : scenario_(scenario), state_(std::make_shared<InventoryState>()) {
  state_->installed = scenario.installedLocales;
  state_->reserved = scenario.reservedLocales;
  state_->status = scenario.status;
}

AssetStatus ScriptedInventory::statusOf(const SpeechTranscriber& module) {
  const Locale& locale = module.locale();
  auto scripted = state_->status.find(locale.identifier());
  if (scripted != state_->status.end()) {
    auto byPreset = scripted->second.byPreset.find(module.preset().name);
    if (byPreset != scripted->second.byPreset.end()) return byPreset->second;
    if (scripted->second.all) return *scripted->second.all;
  }
  if (containsLocale(state_->installed, locale)) return AssetStatus::installed;
  if (containsLocale(scenario_.supportedLocales, locale)) return AssetStatus::supported;
  return AssetStatus::unsupported;
}

AssetStatus ScriptedInventory::status(const TranscriberModules& modules) {
  std::lock_guard lock(state_->mutex);
  for (const auto& module : modules) {
    AssetStatus status = statusOf(*module);
    if (status != AssetStatus::installed) return status;
  }
  return AssetStatus::installed;
}

std::vector<Locale> ScriptedInventory::installedLocales() {
  std::lock_guard lock(state_->mutex);
  return toLocales(state_->installed);
}

std::vector<Locale> ScriptedInventory::reservedLocales() {
  std::lock_guard lock(state_->mutex);
  return toLocales(state_->reserved);
}

bool ScriptedInventory::reserve(const Locale& locale) {
  if (scenario_.reserve.error) throw PlatformError(*scenario_.reserve.error);
  std::lock_guard lock(state_->mutex);
  bool added = false;
  if (!containsLocale(state_->reserved, locale)) {
    if (static_cast<std::int64_t>(state_->reserved.size()) >= scenario_.maximumReservedLocales) {
      if (!scenario_.reserve.result) throw PlatformError("all reservation slots are taken");
    } else {
      state_->reserved.push_back(locale.identifier());
      added = true;
    }
  }
  return scenario_.reserve.result.value_or(added);
}

bool ScriptedInventory::release(const Locale& locale) {
  if (scenario_.release.error) throw PlatformError(*scenario_.release.error);
  std::lock_guard lock(state_->mutex);
  auto& reserved = state_->reserved;
  auto found = std::find_if(reserved.begin(), reserved.end(),
                            [&](const std::string& id) { return sameLocale(Locale(id), locale); });
  bool removed = found != reserved.end() && scenario_.release.shrinks;
  if (removed) reserved.erase(found);
  for (const std::string& other : scenario_.release.reservedMeanwhile) {
    if (!containsLocale(reserved, Locale(other))) reserved.push_back(other);
  }
  return scenario_.release.result.value_or(removed);
}

std::unique_ptr<AssetInstallationRequest> ScriptedInventory::assetInstallationRequest(
    const TranscriberModules& modules) {
  if (scenario_.install.requestError) throw PlatformError(*scenario_.install.requestError);
  if (!scenario_.install.present) return nullptr;
  std::vector<Locale> locales;
  for (const auto& module : modules) locales.push_back(module->locale());
  return std::make_unique<ScriptedInstallRequest>(scenario_.install, std::move(locales), state_);
}

ScriptedSpeechEngine::ScriptedSpeechEngine(const Scenario& scenario) : scenario_(scenario), inventory_(scenario) {}

std::vector<Locale> ScriptedSpeechEngine::supportedLocales() { return toLocales(scenario_.supportedLocales); }

std::vector<Locale> ScriptedSpeechEngine::installedLocales() { return inventory_.installedLocales(); }

void ScriptedSpeechEngine::prepareDictation(const Locale& locale) {
  log("scripted.prepareDictation", {{"locale", locale.identifier()}});
  if (!scenario_.preparedAfterMs) return;
  std::lock_guard lock(mutex_);
  preparations_.emplace_back([reports = reports_, after = *scenario_.preparedAfterMs, locale](std::stop_token stop) {
    if (!sleepFor(std::chrono::milliseconds(after), stop)) return;
    std::lock_guard reportLock(reports->mutex);
    if (!reports->silenced) log("scripted.dictationPrepared", {{"locale", locale.identifier()}});
  });
}

// Scripted preparations only sleep, so they are stopped and joined: none is
// left unjoined at exit.
void ScriptedSpeechEngine::silencePreparations() {
  {
    std::lock_guard lock(reports_->mutex);
    reports_->silenced = true;
  }
  std::lock_guard lock(mutex_);
  for (std::jthread& preparation : preparations_) {
    preparation.request_stop();
    if (preparation.joinable()) preparation.join();
  }
}

std::optional<Locale> ScriptedSpeechEngine::supportedLocale(const Locale& equivalentTo) {
  for (const auto& [request, supported] : scenario_.equivalents) {
    if (sameLocale(Locale(request), equivalentTo)) return Locale(supported);
  }
  return std::nullopt;
}

std::shared_ptr<SpeechTranscriber> ScriptedSpeechEngine::makeTranscriber(const Locale& locale,
                                                                         const TranscriberPreset& preset) {
  return std::make_shared<ScriptedTranscriber>(locale, preset);
}

std::shared_ptr<SpeechAnalyzer> ScriptedSpeechEngine::makeAnalyzer(const TranscriberModules& modules) {
  std::lock_guard lock(mutex_);
  std::size_t index = analyzersMade_++;
  const AnalyzerScript& script = index < scenario_.analyzers.size() ? scenario_.analyzers[index] : scenario_.analyzer;
  return std::make_shared<ScriptedAnalyzer>(modules, script);
}

}  // namespace tolva::scripted
