#pragma once
// Where a live session's audio comes from: the default microphone, or an audio
// file replayed in paced chunks.

#include <cstdint>
#include <string>

namespace tolva {

struct LiveAudioSource {
  enum class Kind { mic, replay };

  Kind kind = Kind::mic;
  std::string path;          // replay only
  std::int64_t chunkMs = 0;  // replay only: milliseconds per fed chunk, unvalidated

  static LiveAudioSource mic() { return {}; }
  static LiveAudioSource replay(std::string path, std::int64_t chunkMs) {
    return {Kind::replay, std::move(path), chunkMs};
  }

  bool isMic() const { return kind == Kind::mic; }
  // The mode word of events and log fields.
  const char* modeWord() const { return isMic() ? "mic" : "replay"; }
};

// How a microphone feed ended; exactly one is acted upon per session.
enum class LiveMicEnd { stopped, halted };

}  // namespace tolva
