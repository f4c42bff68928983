#pragma once
// The two ways the evaluation decodes a file through the speech seam: a file
// analysis with the batch preset (what `transcribe` does), or a live analysis
// with the dictation preset fed in chunks (what `listen` replay does).

#include <cstdint>
#include <string>
#include <vector>

#include "platform/speech.hpp"

namespace tolva::bench {

struct Decoded {
  std::string text;                  // the final results' texts, joined and trimmed
  std::vector<std::string> results;  // each final result's text
  double audioSeconds = 0;
};

class FileDecoder {
 public:
  FileDecoder(SpeechEngine& engine, bool dictation, std::int64_t chunkMs)
      : engine_(engine), dictation_(dictation), chunkMs_(chunkMs) {}

  // Throws PlatformError when the file cannot be read or decoded.
  Decoded decode(const std::string& path);

 private:
  Decoded decodeBatch(const std::string& path);
  Decoded decodeDictation(const std::string& path);

  SpeechEngine& engine_;
  bool dictation_;
  std::int64_t chunkMs_;
};

}  // namespace tolva::bench
