#pragma once
// The errors the live session runner raises itself. Their description is what
// the listen loop reports as the "session-failed" message.

#include <stdexcept>
#include <string>

namespace tolva {

inline constexpr const char* liveErrorDomain = "tolva-speech.listen";

enum class LiveErrorCode : int {
  noAnalyzerFormat = 1,     // the analyzer offers no audio format
  converterInitFailed = 2,  // no converter from the source format
  chunkTooLarge = 3,        // a replay chunk would not fit a 32-bit frame count
};

class LiveSessionError : public std::runtime_error {
 public:
  LiveSessionError(LiveErrorCode code, const std::string& description)
      : std::runtime_error(description), code_(static_cast<int>(code)) {}
  const char* domain() const { return liveErrorDomain; }
  int code() const { return code_; }

 private:
  int code_;
};

}  // namespace tolva
