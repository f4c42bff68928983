#pragma once
// Admission of a start request's locale, stricter than the one-shot commands'
// resolution: a bare language code is never completed from the system region,
// and a locale whose dictation assets are missing is refused instead of giving
// a session with an empty transcript.

#include <optional>
#include <string>
#include <variant>

#include "live/protocol/command_line.hpp"
#include "live/protocol/live_event_emitter.hpp"
#include "platform/speech.hpp"

namespace tolva {

enum class LocaleRejection { notRegioned, unsupported };

// The normalised key of an identifier: horizontal whitespace trimmed, "_"
// turned into "-", Unicode default lower case.
std::string normalizedLocaleKey(std::string_view identifier);

// The engine's own supported locale matching `requested`, or why there is none.
// The region test comes first and needs no engine call: the key split at "-"
// (empty pieces kept) must have a first and a second piece of at least two
// characters each. Then the first supported locale, in the engine's order,
// whose BCP-47 or plain identifier normalises to the key wins.
std::variant<Locale, LocaleRejection> resolveLiveLocale(SpeechEngine& engine, const std::string& requested);

// Why a start was refused: the error event to write.
struct AdmissionRefusal {
  std::string code;  // "locale-unsupported", "locale-not-regioned" or "locale-not-installed"
  std::string message;
};

// The admitted locale, or the refusal; the dictation asset status is asked
// only for a matched locale.
std::variant<Locale, AdmissionRefusal> judgeLiveLocale(SpeechEngine& engine, const StartRequest& request);

// The admitted locale, or nothing after exactly one error event.
std::optional<Locale> admitLiveLocale(SpeechEngine& engine, const StartRequest& request, LiveEventEmitter& events);

}  // namespace tolva
