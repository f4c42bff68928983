#pragma once
// The opt-in flags of `transcribe`. Without any of them the command writes the
// same document as it always has.
//   --words               each segment gains its `words`
//   --format FORMAT       json (the document, the default), srt, vtt or txt
//   --max-segment SECONDS long segments are cut so that none lasts longer
// Flags are found anywhere after the subcommand, as --locale is; only the
// first occurrence counts.

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tolva {

enum class TranscriptFormat { json, srt, vtt, txt };

struct TranscribeOptions {
  bool words = false;
  TranscriptFormat format = TranscriptFormat::json;
  std::optional<double> maxSegmentSeconds;

  // Whether the transcriber must time each word: for the words themselves,
  // for subtitles and for cutting segments.
  bool needsWordTimings() const {
    return words || format == TranscriptFormat::srt || format == TranscriptFormat::vtt || maxSegmentSeconds;
  }
};

// The options, or the message of the usage failure they make: a --format
// without a known format, a --max-segment without a number of seconds above 0.
std::variant<TranscribeOptions, std::string> parseTranscribeOptions(const std::vector<std::string>& arguments);

}  // namespace tolva
