#pragma once
// Where a live session's audio comes from: a microphone (the default one, or
// a capture source by name), an audio file replayed in paced chunks, or a
// stream the client feeds, read as it arrives.

#include <cstdint>
#include <string>

#include "platform/audio.hpp"

namespace tolva {

struct LiveAudioSource {
  enum class Kind { mic, replay, stream };

  Kind kind = Kind::mic;
  std::string path;            // replay only
  std::int64_t chunkMs = 0;    // replay only: milliseconds per fed chunk, unvalidated
  std::string device;          // mic only: a capture source; empty for the default
  AudioStreamRequest stream;   // stream only

  static LiveAudioSource mic(std::string device = "") {
    LiveAudioSource source;
    source.device = std::move(device);
    return source;
  }
  static LiveAudioSource replay(std::string path, std::int64_t chunkMs) {
    LiveAudioSource source;
    source.kind = Kind::replay;
    source.path = std::move(path);
    source.chunkMs = chunkMs;
    return source;
  }
  static LiveAudioSource fed(AudioStreamRequest request) {
    LiveAudioSource source;
    source.kind = Kind::stream;
    source.stream = std::move(request);
    return source;
  }

  bool isMic() const { return kind == Kind::mic; }
  // The mode word of events and log fields.
  const char* modeWord() const {
    switch (kind) {
      case Kind::mic:
        return "mic";
      case Kind::replay:
        return "replay";
      case Kind::stream:
        return "stream";
    }
    return "mic";
  }
};

// How a microphone feed ended; exactly one is acted upon per session.
enum class LiveMicEnd { stopped, halted };

}  // namespace tolva
