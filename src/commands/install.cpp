// install: reserves a locale's slot and downloads its model assets while the
// progress sampler watches the download.
#include <algorithm>

#include "commands/command_support.hpp"
#include "commands/commands.hpp"
#include "commands/progress_sampler.hpp"
#include "locale/asset_status_name.hpp"
#include "locale/resolve_locale.hpp"
#include "locale/speech_preset.hpp"
#include "output/emit.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

bool isReserved(const std::vector<Locale>& reserved, const Locale& locale) {
  return std::any_of(reserved.begin(), reserved.end(), [&](const Locale& entry) { return sameLocale(entry, locale); });
}

bool reserveLocale(AssetInventory& inventory, const Locale& locale) {
  try {
    bool reserved = inventory.reserve(locale);
    log("install.reserved", {{"value", reserved}});
    return reserved;
  } catch (...) {
    std::string description = describe(std::current_exception());
    log("install.reserveFailed", {{"error", description}});
    fail("reserve-failed", "AssetInventory.reserve threw", description);
  }
}

// Runs the installation when the inventory asks for one; returns whether it did.
bool installAssets(AssetInventory& inventory, const TranscriberModules& modules,
                   const std::shared_ptr<SampleBuffer>& samples) {
  try {
    std::shared_ptr<AssetInstallationRequest> request = inventory.assetInstallationRequest(modules);
    if (!request) {
      log("install.noRequestNeeded",
          {{"reason", "assetInstallationRequest returned nil (already installed or nothing to do)"}});
      return false;
    }
    log("install.requestCreated");
    Task sampler = startProgressSampler(request, samples);
    try {
      request->downloadAndInstall();
    } catch (...) {
      // Stopped before the failure is reported, so that "fatal" stays the last line.
      sampler.cancel();
      sampler.wait();
      throw;
    }
    // Not waited for: it holds what it reads and ends at its next check.
    sampler.cancel();
    sampler.abandon();
    log("install.downloadAndInstall.done");
    return true;
  } catch (...) {
    std::string description = describe(std::current_exception());
    log("install.failed", {{"error", description}});
    fail("install-failed", "downloadAndInstall threw", description);
  }
}

}  // namespace

void cmdInstall(const PlatformProvider& platform, const std::string& localeId) {
  log("install.start", {{"locale", localeId}});
  SpeechEngine& engine = platform().speech;
  AssetInventory& inventory = engine.assetInventory();
  auto start = WallClock::now();

  auto resolved = resolveLocale(engine, localeId);
  if (!resolved) {
    fail("unsupported-locale", "SpeechTranscriber does not support locale " + localeId, defaultLocaleNote(localeId));
  }
  log("install.resolved", {{"resolved", resolved->identifier()}});

  TranscriberModules modules{engine.makeTranscriber(*resolved, SpeechPreset::dictation()),
                             engine.makeTranscriber(*resolved, SpeechPreset::batch())};
  AssetStatus statusBefore = statusFor(engine, *resolved, SpeechPreset::dictation());
  log("install.statusBefore", {{"status", assetStatusName(statusBefore)}});

  std::vector<Locale> reserved = inventory.reservedLocales();
  if (!isReserved(reserved, *resolved) && statusBefore != AssetStatus::installed &&
      static_cast<std::int64_t>(reserved.size()) >= inventory.maximumReservedLocales()) {
    fail("locale-reservation-full", "no free AssetInventory reservation slot for " + resolved->identifier(),
         "reserved=" + std::to_string(reserved.size()) +
             " maximum=" + std::to_string(inventory.maximumReservedLocales()));
  }

  InstallOut out;
  out.reserved = reserveLocale(inventory, *resolved);
  auto samples = std::make_shared<SampleBuffer>();
  out.installRequested = installAssets(inventory, modules, samples);

  out.statusAfter = assetStatusName(statusFor(engine, *resolved, SpeechPreset::dictation()));
  log("install.statusAfter", {{"status", out.statusAfter}});
  out.reservedCount = static_cast<std::int64_t>(inventory.reservedLocales().size());
  log("install.reservedAfter", {{"count", out.reservedCount}});
  out.elapsedMs = elapsedMsSince(start);

  out.locale = localeId;
  out.resolvedLocale = resolved->identifier();
  out.statusBefore = assetStatusName(statusBefore);
  out.progressSamples = samples->drain();
  out.maximumReservedLocales = inventory.maximumReservedLocales();
  emit(out);
}

}  // namespace tolva
