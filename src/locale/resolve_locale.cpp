#include "locale/resolve_locale.hpp"

#include <set>
#include <vector>

#include "locale/graphemes.hpp"

namespace tolva {

std::optional<Locale> resolveLocale(SpeechEngine& engine, const std::string& id) {
  Locale requested(id);
  std::vector<Locale> supported = engine.supportedLocales();
  std::set<std::string> supportedKeys;
  for (const auto& locale : supported) supportedKeys.insert(locale.sameLocaleKey());

  if (auto equivalent = engine.supportedLocale(requested)) {
    if (supportedKeys.contains(equivalent->sameLocaleKey())) return equivalent;
  }
  std::string key = requested.sameLocaleKey();
  for (const auto& locale : supported) {
    if (locale.sameLocaleKey() == key) return locale;
  }
  return std::nullopt;
}

bool hasRegionSubtag(const std::string& id) {
  std::vector<std::string> pieces;
  std::string piece;
  for (char c : id + "-") {
    if (c == '-' || c == '_') {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  return pieces.size() >= 2 && graphemeCount(pieces[0]) >= 2 && graphemeCount(pieces[1]) >= 2;
}

}  // namespace tolva
