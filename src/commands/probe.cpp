// probe: the read-only report of the machine's speech set-up. Every outcome of
// the engine is data; the probe never fails on its own.
#include <set>

#include "commands/command_support.hpp"
#include "commands/commands.hpp"
#include "locale/asset_status_name.hpp"
#include "locale/resolve_locale.hpp"
#include "locale/speech_preset.hpp"
#include "locale/system_strings.hpp"
#include "output/emit.hpp"
#include "output/log.hpp"

namespace tolva {
namespace {

const char* const probeIdentifiers[] = {"de", "de-DE", "de-AT", "de-CH", "en", "en-US", "en-GB"};

std::string batchStatusName(SpeechEngine& engine, const std::optional<Locale>& locale, const char* unresolved) {
  if (!locale) return unresolved;
  return assetStatusName(statusFor(engine, *locale, SpeechPreset::batch()));
}

void probeRequestedLocale(SpeechEngine& engine, const std::string& requested, ProbeOut& out) {
  out.requestedLocale = requested;
  auto resolved = resolveLocale(engine, requested);
  if (!resolved) {
    out.requestedLocaleStatus = "unresolved";
    log("probe.requestedLocale", {{"requested", requested}, {"resolved", "<unresolved>"}, {"status", "unresolved"}});
    return;
  }
  out.requestedLocaleResolved = resolved->identifier();
  out.requestedLocaleStatus = batchStatusName(engine, resolved, "");
  log("probe.requestedLocale",
      {{"requested", requested}, {"resolved", resolved->identifier()}, {"status", *out.requestedLocaleStatus}});
}

// Dictation status of every installed locale, then of each reserved locale
// that is not also installed.
std::map<std::string, std::string> localeStatuses(SpeechEngine& engine, const std::vector<Locale>& installed,
                                                  const std::vector<Locale>& reserved) {
  std::vector<Locale> candidates = installed;
  std::set<std::string> installedKeys;
  for (const auto& locale : installed) installedKeys.insert(locale.sameLocaleKey());
  for (const auto& locale : reserved) {
    if (!installedKeys.contains(locale.sameLocaleKey())) candidates.push_back(locale);
  }
  std::map<std::string, std::string> statuses;
  for (const auto& locale : candidates) {
    statuses[locale.identifier()] = assetStatusName(statusFor(engine, locale, SpeechPreset::dictation()));
  }
  return statuses;
}

}  // namespace

void cmdProbe(const PlatformProvider& platform, const std::optional<std::string>& requestedLocaleId) {
  log("probe.start", requestedLocaleId ? LogFields{{"locale", *requestedLocaleId}} : LogFields{});
  SpeechEngine& engine = platform().speech;

  ProbeOut out;
  out.isAvailable = engine.isAvailable();
  log("probe.isAvailable", {{"value", out.isAvailable}});

  std::vector<Locale> supported = engine.supportedLocales();
  std::vector<Locale> installed = engine.installedLocales();
  std::vector<Locale> reserved = engine.assetInventory().reservedLocales();

  for (const char* id : probeIdentifiers) {
    auto resolved = resolveLocale(engine, id);
    out.deLocaleResolution[id] = resolved ? resolved->identifier() : "<unsupported>";
  }
  auto german = resolveLocale(engine, "de-DE");
  auto english = resolveLocale(engine, "en-US");
  out.assetStatusForDE = batchStatusName(engine, german, "n/a");
  out.assetStatusForEN = batchStatusName(engine, english, "n/a");

  if (requestedLocaleId) probeRequestedLocale(engine, *requestedLocaleId, out);

  auto mapStart = WallClock::now();
  out.localeStatuses = localeStatuses(engine, installed, reserved);
  log("probe.localeStatuses",
      {{"count", static_cast<std::int64_t>(out.localeStatuses.size())}, {"elapsedMs", elapsedMsSince(mapStart)}});
  log("probe.done", {{"supported", static_cast<std::int64_t>(supported.size())},
                     {"installed", static_cast<std::int64_t>(installed.size())}});

  out.osVersion = osVersionString();
  out.cpu = sysctlString("machdep.cpu.brand_string");
  out.maximumReservedLocales = engine.assetInventory().maximumReservedLocales();
  out.reservedLocales = sortedIdentifiers(reserved);
  out.supportedLocales = sortedIdentifiers(supported);
  out.installedLocales = sortedIdentifiers(installed);
  out.supportedLocaleCount = static_cast<std::int64_t>(supported.size());
  out.installedLocaleCount = static_cast<std::int64_t>(installed.size());
  out.localeStatusesComplete = false;
  emit(out);
}

}  // namespace tolva
