#pragma once
// One listen command line, parsed. Lines are JSON objects with a string `cmd`:
//   {"cmd":"start","locale":"de-DE","replay":"/path/a.wav","chunkMs":100}
//   {"cmd":"start","locale":"de-DE","device":"alsa_input.usb-mic"}
//   {"cmd":"start","locale":"de-DE","stream":"/path/a.fifo","format":"s16le","rate":16000,"channels":1}
//   {"cmd":"start","locale":"de-DE","replay":"/path/a.wav","chunkMs":100,"words":true}
//   {"cmd":"stop"}
//   {"cmd":"quit"}
// Keys and command names are compared exactly; other keys are ignored. Bytes
// that are not UTF-8 read as U+FFFD, except in a replay path, which keeps
// them: a file named in Latin-1 must still open. So does a stream path.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/audio.hpp"

namespace tolva {

inline constexpr std::int64_t defaultChunkMs = 100;

// A start request as the router accepted it.
struct StartRequest {
  std::string locale;                     // exactly as sent; admission judges it
  std::optional<std::string> replayPath;  // absent: the microphone
  std::int64_t chunkMs = defaultChunkMs;  // not range-checked: 0 and negatives pass
  std::optional<std::string> device;      // a capture source; absent: the default
  std::optional<AudioStreamRequest> stream;  // audio the client feeds; never beside replayPath
  bool words = false;                     // finals carry their words; only JSON true turns it on

  bool operator==(const StartRequest&) const = default;
};

namespace command {
struct Blank {};          // nothing but whitespace
struct Malformed {};      // not an object with a string `cmd`
struct MissingLocale {};  // a start without a string `locale`
struct BadStart {         // a start whose audio options cannot be used
  std::string message;
};
struct Start {
  StartRequest request;
};
struct Stop {};
struct Quit {};
struct Unknown {
  std::string cmd;
};
}  // namespace command

using CommandLine = std::variant<command::Blank, command::Malformed, command::MissingLocale, command::BadStart,
                                 command::Start, command::Stop, command::Quit, command::Unknown>;

// Trims whitespace and line breaks from both ends, then parses `line`, which
// may hold any bytes.
CommandLine parseCommandLine(std::string_view line);

}  // namespace tolva
