#include "commands/command_support.hpp"

#include <algorithm>

#include "app/entry.hpp"

namespace tolva {

std::optional<std::string> defaultLocaleNote(const std::string& localeId) {
  if (!localeWasDefaulted()) return std::nullopt;
  return localeId + " was the default locale, --locale chooses another";
}

AssetStatus statusFor(SpeechEngine& engine, const Locale& locale, const TranscriberPreset& preset) {
  return engine.assetInventory().status({engine.makeTranscriber(locale, preset)});
}

std::vector<std::string> sortedIdentifiers(const std::vector<Locale>& locales) {
  std::vector<std::string> identifiers;
  for (const auto& locale : locales) identifiers.push_back(locale.identifier());
  std::sort(identifiers.begin(), identifiers.end());
  return identifiers;
}

double elapsedMsSince(WallClock::time_point start) { return millisecondsBetween(start, WallClock::now()); }

}  // namespace tolva
