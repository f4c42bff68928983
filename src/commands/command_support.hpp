#pragma once
// Small pieces the one-shot commands share.

#include <optional>
#include <string>
#include <vector>

#include "app/process.hpp"
#include "platform/speech.hpp"

namespace tolva {

// The asset status of a module list holding one transcriber for `locale`.
AssetStatus statusFor(SpeechEngine& engine, const Locale& locale, const TranscriberPreset& preset);

// Plain identifiers, sorted ascending by code point.
std::vector<std::string> sortedIdentifiers(const std::vector<Locale>& locales);

// When the command runs on the default locale because no --locale was given,
// the words that say so, for the end of a failure's detail.
std::optional<std::string> defaultLocaleNote(const std::string& localeId);

// Milliseconds since `start` on the wall clock, fractional part kept.
double elapsedMsSince(WallClock::time_point start);

}  // namespace tolva
