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

// Split at user-perceived characters: a hyphen followed by a combining mark
// or a joiner is one character, and that character is no separator.
bool hasRegionSubtag(const std::string& id) {
  std::vector<std::size_t> pieceLengths;  // in grapheme clusters
  std::size_t length = 0;
  std::vector<std::string> clusters = graphemes(id);
  clusters.emplace_back("-");
  for (const std::string& cluster : clusters) {
    if (cluster == "-" || cluster == "_") {
      if (length > 0) pieceLengths.push_back(length);
      length = 0;
    } else {
      ++length;
    }
  }
  return pieceLengths.size() >= 2 && pieceLengths[0] >= 2 && pieceLengths[1] >= 2;
}

}  // namespace tolva
