// The audio options of a start line: device, stream and a raw format.
#include <gtest/gtest.h>

#include "live/protocol/command_line.hpp"

namespace tolva {
namespace {

StartRequest parsedStart(const std::string& line) {
  CommandLine parsed = parseCommandLine(line);
  const auto* start = std::get_if<command::Start>(&parsed);
  EXPECT_NE(start, nullptr) << line;
  return start ? start->request : StartRequest{};
}

TEST(StartAudioOptions, DeviceAndStreamAreTaken) {
  struct Case {
    std::string line;
    std::optional<std::string> device;
    std::optional<AudioStreamRequest> stream;
  };
  const RawPcmFormat s16{RawSampleFormat::s16le, 16000, 1};
  const RawPcmFormat f32{RawSampleFormat::f32le, 48000, 2};
  const Case cases[] = {
      {R"({"cmd":"start","locale":"de-DE"})", std::nullopt, std::nullopt},
      {R"({"cmd":"start","locale":"de-DE","device":"usb-mic"})", "usb-mic", std::nullopt},
      {R"({"cmd":"start","locale":"de-DE","device":7})", std::nullopt, std::nullopt},
      {R"({"cmd":"start","locale":"de-DE","stream":"a.fifo"})", std::nullopt, AudioStreamRequest{"a.fifo", {}}},
      {R"({"cmd":"start","locale":"de-DE","stream":"a.fifo","format":"s16le","rate":16000,"channels":1})", std::nullopt,
       AudioStreamRequest{"a.fifo", s16}},
      {R"({"cmd":"start","locale":"de-DE","stream":"a","format":"f32le","rate":48000,"channels":2,"device":"m"})", "m",
       AudioStreamRequest{"a", f32}},
      {R"({"cmd":"start","locale":"de-DE","stream":null,"format":"mp3"})", std::nullopt, std::nullopt},
      {R"({"cmd":"start","locale":"de-DE","stream":"a","replay":false})", std::nullopt, AudioStreamRequest{"a", {}}},
  };
  for (const auto& [line, device, stream] : cases) {
    StartRequest request = parsedStart(line);
    EXPECT_EQ(request.device, device) << line;
    EXPECT_EQ(request.stream, stream) << line;
  }
}

TEST(StartAudioOptions, UnusableOnesRefuseTheStart) {
  const std::string needs = "a raw `format` needs a `rate` from 1 to 768000 and `channels` from 1 to 64";
  const std::pair<std::string, std::string> cases[] = {
      {R"({"cmd":"start","locale":"x","stream":"a","replay":"b"})",
       "`start` takes either `replay` or `stream`, not both"},
      {R"({"cmd":"start","locale":"x","stream":"a","format":"S16LE","rate":1,"channels":1})",
       "`format` must be s16le or f32le"},
      {R"({"cmd":"start","locale":"x","stream":"a","format":null})", "`format` must be s16le or f32le"},
      {R"({"cmd":"start","locale":"x","stream":"a","format":"s16le","rate":16000})", needs},
      {R"({"cmd":"start","locale":"x","stream":"a","format":"s16le","rate":"16000","channels":1})", needs},
      {R"({"cmd":"start","locale":"x","stream":"a","format":"s16le","rate":-1,"channels":1})", needs},
      {R"({"cmd":"start","locale":"x","stream":"a","format":"s16le","rate":768001,"channels":1})", needs},
      {R"({"cmd":"start","locale":"x","stream":"a","format":"s16le","rate":1,"channels":0})", needs},
      {R"({"cmd":"start","locale":"x","stream":"a","format":"s16le","rate":1,"channels":18446744073709551615})", needs},
  };
  for (const auto& [line, message] : cases) {
    CommandLine parsed = parseCommandLine(line);
    const auto* bad = std::get_if<command::BadStart>(&parsed);
    ASSERT_NE(bad, nullptr) << line;
    EXPECT_EQ(bad->message, message) << line;
  }
  // The locale is judged first, as for any start.
  EXPECT_TRUE(
      std::holds_alternative<command::MissingLocale>(parseCommandLine(R"({"cmd":"start","stream":"a","replay":"b"})")));
}

TEST(StartAudioOptions, AStreamPathKeepsBytesThatAreNotUtf8) {
  StartRequest request = parsedStart("{\"cmd\":\"start\",\"locale\":\"de-DE\",\"stream\":\"/tmp/caf\xE9.fifo\"}");
  ASSERT_TRUE(request.stream);
  EXPECT_EQ(request.stream->path, "/tmp/caf\xE9.fifo");
}

}  // namespace
}  // namespace tolva
