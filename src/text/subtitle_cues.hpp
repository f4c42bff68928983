#pragma once
// Subtitle cues cut from word times, after common subtitling guidelines: a cue
// holds at most `lines` lines of `lineChars` characters and stays at most
// `maxSeconds` on screen; it ends at a sentence end, a pause or a phrase
// boundary where one is near, never in the middle of a word; cues never
// overlap. English rules decide what a phrase boundary is.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolva::text {

// A word as the cues see it: its written text and its times in seconds.
// `endsSegment` marks the last word of a recogniser segment, which ended at a
// pause the recogniser heard.
struct CueWord {
  std::string text;
  double start = 0;
  double end = 0;
  bool endsSegment = false;
};

struct CueLimits {
  std::size_t lineChars = 42;  // user-perceived characters
  std::size_t lines = 2;
  double maxSeconds = 7;
  // A cue shorter than this stays up longer when the next one leaves room.
  double minSeconds = 1;
};

// Times in whole milliseconds, so that what is checked is what is written.
struct Cue {
  std::int64_t startMs = 0;
  std::int64_t endMs = 0;
  std::vector<std::string> lines;
};

// The cues of `words`, in order: every word in exactly one cue; each cue
// starts after the previous one ends and lasts at least 1 ms. A word too long
// for a line gets a cue of its own rather than being cut.
std::vector<Cue> subtitleCues(const std::vector<CueWord>& words, const CueLimits& limits = {});

// The words [first, last] on at most `limits.lines` lines of at most
// `limits.lineChars` characters, the lines as even as they can be; nothing
// when they do not fit. One line when they fit on one.
std::vector<std::string> cueLines(const std::vector<CueWord>& words, std::size_t first, std::size_t last,
                                  const CueLimits& limits);

}  // namespace tolva::text
