// release: frees the reservation slot one locale holds, and verifies by the
// reserved list read afterwards that it is gone.
#include <algorithm>

#include "commands/command_support.hpp"
#include "commands/commands.hpp"
#include "locale/asset_status_name.hpp"
#include "locale/resolve_locale.hpp"
#include "locale/speech_preset.hpp"
#include "output/emit.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

bool holds(const std::vector<Locale>& reserved, const Locale& locale) {
  return std::any_of(reserved.begin(), reserved.end(), [&](const Locale& entry) { return sameLocale(entry, locale); });
}

struct ReleaseAnswer {
  bool accepted = false;
  std::string error;  // why the store could not be changed; empty when it could
};

ReleaseAnswer callRelease(AssetInventory& inventory, const Locale& locale) {
  ReleaseAnswer answer;
  try {
    answer.accepted = inventory.release(locale);
  } catch (...) {
    answer.error = describe(std::current_exception());
  }
  if (answer.error.empty()) {
    log("release.called", {{"accepted", answer.accepted}});
  } else {
    log("release.called", {{"accepted", false}, {"error", answer.error}});
  }
  return answer;
}

}  // namespace

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
  if (!holds(reservedBefore, *resolved)) {
    fail("locale-not-reserved", resolved->identifier() + " holds no reservation on this machine",
         "reserved=" + std::to_string(reservedBefore.size()) +
             " maximum=" + std::to_string(inventory.maximumReservedLocales()));
  }

  std::string statusBefore = assetStatusName(statusFor(engine, *resolved, SpeechPreset::dictation()));
  log("release.statusBefore", {{"status", statusBefore}});
  ReleaseAnswer answer = callRelease(inventory, *resolved);

  std::vector<Locale> reservedAfter = inventory.reservedLocales();
  std::string statusAfter = assetStatusName(statusFor(engine, *resolved, SpeechPreset::dictation()));
  log("release.statusAfter", {{"status", statusAfter}, {"reserved", static_cast<std::int64_t>(reservedAfter.size())}});

  // The answer of release decides nothing: only the list read afterwards
  // does. Its length proves nothing, since other processes reserve and
  // release meanwhile.
  if (holds(reservedAfter, *resolved)) {
    fail("release-failed", "AssetInventory.release did not free the reservation for " + resolved->identifier(),
         std::string("accepted=") + (answer.accepted ? "true" : "false") + " reservedBefore=" +
             std::to_string(reservedBefore.size()) + " reservedAfter=" + std::to_string(reservedAfter.size()) +
             (answer.error.empty() ? "" : " error=" + answer.error));
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
