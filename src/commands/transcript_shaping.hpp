#pragma once
// From the segments a transcriber delivered to what `transcribe` writes:
// segments cut to a longest length, and the words that subtitle cues are cut
// from. A segment without words (a transcriber that gave none) lends its
// text's words spread over its time, in proportion to their lengths.

#include <vector>

#include "output/documents.hpp"
#include "text/subtitle_cues.hpp"

namespace tolva {

// The segment's words as cut points see them.
std::vector<text::CueWord> cueWordsOf(const Segment& segment);

// Every word of the segments, in order, the last one of each marked.
std::vector<text::CueWord> cueWordsOf(const std::vector<Segment>& segments);

// Segments longer than `maxSeconds` cut at their longest pauses into pieces
// timed by their words, each with its words and, as text, its words joined
// after a space; shorter segments stay as they are.
std::vector<Segment> limitSegmentLength(std::vector<Segment> segments, double maxSeconds);

}  // namespace tolva
