// release: frees the reservation slot one locale holds, and verifies by the
// reserved counts that it is gone.
#include <algorithm>

#include "commands/command_support.hpp"
#include "commands/commands.hpp"
#include "locale/asset_status_name.hpp"
#include "locale/resolve_locale.hpp"
#include "locale/speech_preset.hpp"
#include "output/emit.hpp"
#include "output/log.hpp"

namespace tolva {

void cmdRelease(const PlatformProvider& platform, const std::string& localeId) {
  log("release.start", {{"locale", localeId}});
  SpeechEngine& engine = platform().speech;
  AssetInventory& inventory = engine.assetInventory();
  auto start = WallClock::now();

  if (!hasRegionSubtag(localeId)) {
    fail("locale-not-regioned", "release requires a locale with a region subtag (e.g. de-DE); got '" + localeId + "'");
  }
  auto resolved = resolveLocale(engine, localeId);
  if (!resolved) fail("unsupported-locale", "SpeechTranscriber does not support locale " + localeId);
  log("release.resolved", {{"resolved", resolved->identifier()}});

  std::vector<Locale> reservedBefore = inventory.reservedLocales();
  bool reserved = std::any_of(reservedBefore.begin(), reservedBefore.end(),
                              [&](const Locale& locale) { return sameLocale(locale, *resolved); });
  if (!reserved) {
    fail("locale-not-reserved", resolved->identifier() + " holds no reservation on this machine",
         "reserved=" + std::to_string(reservedBefore.size()) +
             " maximum=" + std::to_string(inventory.maximumReservedLocales()));
  }

  std::string statusBefore = assetStatusName(statusFor(engine, *resolved, SpeechPreset::dictation()));
  log("release.statusBefore", {{"status", statusBefore}});
  bool accepted = inventory.release(*resolved);
  log("release.called", {{"accepted", accepted}});

  std::vector<Locale> reservedAfter = inventory.reservedLocales();
  std::string statusAfter = assetStatusName(statusFor(engine, *resolved, SpeechPreset::dictation()));
  log("release.statusAfter", {{"status", statusAfter}, {"reserved", static_cast<std::int64_t>(reservedAfter.size())}});

  // The answer of release decides nothing: only a shorter list proves it.
  if (reservedAfter.size() >= reservedBefore.size()) {
    fail("release-failed", "AssetInventory.release did not free the reservation for " + resolved->identifier(),
         std::string("accepted=") + (accepted ? "true" : "false") + " reservedBefore=" +
             std::to_string(reservedBefore.size()) + " reservedAfter=" + std::to_string(reservedAfter.size()));
  }

  ReleaseOut out;
  out.locale = localeId;
  out.resolvedLocale = resolved->identifier();
  out.released = true;
  out.statusBefore = statusBefore;
  out.statusAfter = statusAfter;
  out.reservedBefore = sortedIdentifiers(reservedBefore);
  out.reservedAfter = sortedIdentifiers(reservedAfter);
  out.maximumReservedLocales = inventory.maximumReservedLocales();
  out.elapsedMs = elapsedMsSince(start);
  emit(out);
}

}  // namespace tolva
