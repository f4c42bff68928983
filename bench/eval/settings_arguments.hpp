#pragma once
// Engine settings from the command line of the evaluation tools, as
// name=value words over the shipped defaults:
//   batch.lw=7.5  dictation.fwdflat=no  batch.vad.threshold=2.5  splitter.lead=30
// Decoder names (batch.* for transcribe, dictation.* for listen): fwdflat,
// bestpath (yes/no), beam, wbeam, pbeam, lw, wip, maxhmmpf, and the voice
// activity detector's vad.threshold, vad.start, vad.before, vad.end (frames).
// Splitter names: splitter.lead, splitter.max (frames).
// Result text: text=raw|formatted|timed (timed: each word with its frames,
// results apart by " | "; unset, the environment's style), text.pause
// (seconds of pause that end a sentence).

#include <string>
#include <vector>

#include "platform/sphinx/decoder/decoder_settings.hpp"

namespace tolva::bench {

// Applies each word to `settings`; throws std::invalid_argument naming the
// word that is unknown or malformed, or what validate() refuses.
void applySettingWords(const std::vector<std::string>& words, sphinx::SphinxSettings& settings);

// Every setting as name=value words, in the order of the names above.
std::vector<std::string> settingWords(const sphinx::SphinxSettings& settings);

}  // namespace tolva::bench
