#pragma once
// The library's configuration as name/value options ("-lw", "6.5"), built from
// our settings and parsed into a configuration object in one place.

#include <string>
#include <utility>
#include <vector>

#include "platform/sphinx/decoder/decoder_settings.hpp"

typedef struct cmd_ln_s cmd_ln_t;

namespace tolva::sphinx {

using SphinxOptions = std::vector<std::pair<std::string, std::string>>;

// Shortest text that reads back as the same double ("1e-48", "6.5").
std::string optionNumber(double value);

// The front end's voice activity detector options.
SphinxOptions voiceOptions(const VoiceActivitySettings& voice);

// A configuration over the library's defaults, or null when an option is
// unknown or malformed. Call inside enterLibrary().
cmd_ln_t* parseOptions(const SphinxOptions& options);

}  // namespace tolva::sphinx
