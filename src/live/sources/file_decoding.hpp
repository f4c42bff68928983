#pragma once
// A whole audio file through the speech seam, the two ways the product
// decodes one, without the process around them: a file analysis with the
// batch preset, as `transcribe` runs it, or the replay feed, unpaced, into a
// live analysis with the dictation preset, as `listen` replay runs it. The
// evaluation's decoding tool and the recognition guard measure the shipped
// code through these two functions.

#include <cstdint>
#include <string>
#include <vector>

#include "locale/locale.hpp"
#include "platform/audio.hpp"
#include "platform/speech.hpp"

namespace tolva {

struct DecodedFile {
  std::string text;                  // the final results' texts, joined and trimmed
  std::vector<std::string> results;  // each final result's text
  double audioSeconds = 0;
};

// Throws what opening or reading the file throws, or PlatformError.
DecodedFile decodeAsTranscribe(SpeechEngine& engine, AudioSystem& audio, const std::string& path, const Locale& locale);

// Feeds the file in chunks of chunkMs; throws what feedReplay throws, or
// PlatformError when the engine offers no audio format for the locale.
DecodedFile decodeAsReplay(SpeechEngine& engine, AudioSystem& audio, const std::string& path, std::int64_t chunkMs,
                           const Locale& locale);

}  // namespace tolva
