#pragma once
// Writing cues as SubRip (.srt) and WebVTT (.vtt) text.
//
// SubRip: cues numbered from 1, each "HH:MM:SS,mmm --> HH:MM:SS,mmm", its
// lines, and an empty line. WebVTT: the "WEBVTT" header and an empty line,
// then each cue's "HH:MM:SS.mmm --> HH:MM:SS.mmm", its lines and an empty
// line; & < > are written as character references, as the format requires.
// Lines end in a line feed. Hours take two digits or more.

#include <cstdint>
#include <string>
#include <vector>

#include "text/subtitle_cues.hpp"

namespace tolva::text {

// "HH:MM:SS" then `separator` then milliseconds, for a time of 0 or more.
std::string subtitleTimestamp(std::int64_t milliseconds, char separator);

std::string srtText(const std::vector<Cue>& cues);
std::string vttText(const std::vector<Cue>& cues);

}  // namespace tolva::text
