#include "live/session/live_locale_admission.hpp"

#include <algorithm>
#include <vector>

#include "live/protocol/client_echo.hpp"
#include "locale/trim.hpp"
#include "locale/asset_status_name.hpp"
#include "locale/graphemes.hpp"
#include "locale/speech_preset.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

bool hasLiveRegion(const std::string& key) {
  std::vector<std::string_view> pieces;
  std::string_view rest = key;
  for (auto dash = rest.find('-'); dash != std::string_view::npos; dash = rest.find('-')) {
    pieces.push_back(rest.substr(0, dash));
    rest.remove_prefix(dash + 1);
  }
  pieces.push_back(rest);
  return pieces.size() >= 2 && graphemeCount(pieces[0]) >= 2 && graphemeCount(pieces[1]) >= 2;
}

// The engine's answers are not expected to fail; should one throw anyway, the
// start is refused like one the engine cannot serve, and the log says why.
std::vector<Locale> supportedLocalesOf(SpeechEngine& engine) {
  try {
    return engine.supportedLocales();
  } catch (...) {
    log("listen.admissionError", {{"error", describe(std::current_exception())}});
    return {};
  }
}

AssetStatus dictationStatusOf(SpeechEngine& engine, const Locale& locale) {
  try {
    auto transcriber = engine.makeTranscriber(locale, SpeechPreset::dictation());
    return engine.assetInventory().status({transcriber});
  } catch (...) {
    log("listen.admissionError", {{"error", describe(std::current_exception())}});
    return AssetStatus::other;
  }
}

}  // namespace

std::string normalizedLocaleKey(std::string_view identifier) {
  std::string key(trimHorizontalWhitespace(identifier));
  std::replace(key.begin(), key.end(), '_', '-');
  return lowercased(key);
}

std::variant<Locale, LocaleRejection> resolveLiveLocale(SpeechEngine& engine, const std::string& requested) {
  std::string key = normalizedLocaleKey(requested);
  if (!hasLiveRegion(key)) return LocaleRejection::notRegioned;
  for (const Locale& locale : supportedLocalesOf(engine)) {
    if (normalizedLocaleKey(locale.bcp47()) == key || normalizedLocaleKey(locale.identifier()) == key) {
      return locale;
    }
  }
  return LocaleRejection::unsupported;
}

std::variant<Locale, AdmissionRefusal> judgeLiveLocale(SpeechEngine& engine, const StartRequest& request) {
  auto resolved = resolveLiveLocale(engine, request.locale);
  if (const auto* rejection = std::get_if<LocaleRejection>(&resolved)) {
    if (*rejection == LocaleRejection::unsupported) {
      return AdmissionRefusal{"locale-unsupported", "SpeechTranscriber has no model for '" +
                                                        clientEcho(request.locale) + "'; no download adds one"};
    }
    return AdmissionRefusal{"locale-not-regioned", "locale '" + clientEcho(request.locale) +
                                                       "' has no region subtag; a bare code resolves by system "
                                                       "region and silently transcribes with the wrong model"};
  }
  Locale locale = std::get<Locale>(resolved);
  AssetStatus status = dictationStatusOf(engine, locale);
  if (status == AssetStatus::installed) return locale;
  return AdmissionRefusal{"locale-not-installed", "assets for '" + locale.identifier() + "' report '" +
                                                      assetStatusName(status) +
                                                      "' on this machine; a session would return an empty "
                                                      "transcript with no error"};
}

std::optional<Locale> admitLiveLocale(SpeechEngine& engine, const StartRequest& request, LiveEventEmitter& events) {
  auto judged = judgeLiveLocale(engine, request);
  if (const auto* refusal = std::get_if<AdmissionRefusal>(&judged)) {
    events.emitError(refusal->code, refusal->message);
    return std::nullopt;
  }
  return std::get<Locale>(judged);
}

}  // namespace tolva
