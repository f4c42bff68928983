#pragma once
// A small strict reader of SubRip (.srt) and WebVTT (.vtt) text as
// `transcribe --format` writes it, and the rules its cues must keep: numbered
// from 1 without gaps (SubRip), "HH:MM:SS,mmm --> HH:MM:SS,mmm" timings
// ('.' in WebVTT), each cue ending after it starts and starting no earlier
// than the previous one ends, at most `maxLines` lines of `maxLineChars`
// characters, at most `maxMs` on screen, one empty line after each cue.

#include <cstdint>
#include <string>
#include <vector>

namespace tolva::test {

struct ParsedCue {
  std::int64_t startMs = 0;
  std::int64_t endMs = 0;
  std::vector<std::string> lines;
};

struct SubtitleCheck {
  std::vector<ParsedCue> cues;
  std::vector<std::string> problems;  // empty when the text keeps every rule
};

struct SubtitleRules {
  std::size_t maxLines = 2;
  std::size_t maxLineChars = 42;
  std::int64_t maxMs = 7000;
};

SubtitleCheck checkSrt(const std::string& text, const SubtitleRules& rules = {});
SubtitleCheck checkVtt(const std::string& text, const SubtitleRules& rules = {});

}  // namespace tolva::test
