#pragma once
// The audio options of a `start` line beside `replay` and `chunkMs`:
//   "device": "alsa_input.usb-mic"   a capture source by name, for the microphone
//   "stream": "/run/app/audio.fifo"  audio the client feeds, read as it arrives
//   "format": "s16le" | "f32le", "rate": 16000, "channels": 1
//                                    raw PCM on the stream instead of a container
// A value of another type than the one shown reads as absent, as `replay`
// does; `format`, `rate` and `channels` are looked at only beside a stream.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>

#include "platform/audio.hpp"

namespace tolva {

struct StartAudioOptions {
  std::optional<std::string> device;
  std::optional<AudioStreamRequest> stream;
};

// The options, or the message of the "bad-command" error that refuses them:
// a start with both `replay` and `stream`, an unknown `format`, or a raw
// format without a usable `rate` and `channels`.
std::variant<StartAudioOptions, std::string> parseStartAudioOptions(const nlohmann::json& command);

}  // namespace tolva
