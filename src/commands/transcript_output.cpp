#include "commands/transcript_output.hpp"

#include "commands/transcript_shaping.hpp"
#include "locale/trim.hpp"
#include "output/emit.hpp"
#include "output/fd_write.hpp"
#include "text/subtitle_format.hpp"

namespace tolva {
namespace {

std::string plainText(const TranscriptionOut& out) {
  std::string text;
  for (const Segment& segment : out.segments) {
    std::string line(trimWhitespaceAndNewlines(segment.text));
    if (!line.empty()) text += line + "\n";
  }
  return text;
}

}  // namespace

std::string transcriptText(const TranscriptionOut& out, TranscriptFormat format) {
  switch (format) {
    case TranscriptFormat::srt:
      return text::srtText(text::subtitleCues(cueWordsOf(out.segments)));
    case TranscriptFormat::vtt:
      return text::vttText(text::subtitleCues(cueWordsOf(out.segments)));
    case TranscriptFormat::txt:
    case TranscriptFormat::json:
      break;
  }
  return plainText(out);
}

void writeTranscription(const TranscriptionOut& out, TranscriptFormat format) {
  if (format == TranscriptFormat::json) {
    emit(out);
    return;
  }
  writeAll(stdoutFd, transcriptText(out, format));
}

}  // namespace tolva
