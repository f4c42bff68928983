#pragma once
// Locale resolution shared by the one-shot commands.

#include <optional>
#include <string>

#include "platform/speech.hpp"

namespace tolva {

// Maps a requested identifier to one of the engine's supported locales: the
// engine's own equivalent when it is in the supported list, else the first
// supported locale whose lowercased BCP-47 tag equals the request's. The two
// engine queries run one after the other. Never fails: nothing when no match.
std::optional<Locale> resolveLocale(SpeechEngine& engine, const std::string& id);

// True when the identifier, split at '-' and '_' with empty pieces dropped,
// has a first and a second piece of at least two user-perceived characters
// each. Only a syntactic test: the pieces' content is not examined.
bool hasRegionSubtag(const std::string& id);

}  // namespace tolva
