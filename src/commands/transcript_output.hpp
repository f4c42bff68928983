#pragma once
// Writing a finished transcription on standard output in the format asked for:
//   json  the TranscriptionOut document, through emit()
//   srt   SubRip subtitles, cues cut from the word times
//   vtt   WebVTT subtitles, the same cues
//   txt   the transcript, one segment's trimmed text per line (segments with
//         no text left out)
// The text forms leave in one write. Failures are never written here: they
// stay the JSON error document of fail().

#include <string>

#include "commands/transcribe_options.hpp"
#include "output/documents.hpp"

namespace tolva {

// The text of a text form (srt, vtt or txt) of the transcription.
std::string transcriptText(const TranscriptionOut& out, TranscriptFormat format);

void writeTranscription(const TranscriptionOut& out, TranscriptFormat format);

}  // namespace tolva
