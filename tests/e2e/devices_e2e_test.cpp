// The microphone the user chose, through the shipped binary and a private
// PulseAudio daemon with pipe sources: `devices`, a start's `device`,
// PULSE_SOURCE, and sources that do not exist.
#include <gtest/gtest.h>

#include "support/documents.hpp"
#include "support/librivox_clips.hpp"
#include "support/listen_process.hpp"
#include "support/pulse_daemon.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

ToolRun devicesWith(const std::map<std::string, std::string>& env) {
  ToolOptions options;
  options.env = env;
  return runTool(TOLVA_BINARY, {"devices"}, options);
}

Json sourceNamed(const Json& document, const std::string& name) {
  for (const Json& source : document.at("sources")) {
    if (source.at("name") == name) return source;
  }
  return nullptr;
}

class DevicesE2e : public testing::Test {
 protected:
  void SetUp() override {
    daemon = std::make_unique<PulseDaemon>();
    daemon->addMicrophone("micB", 48000, 2);
    daemon->addMicrophone("micA", 16000, 1);
    daemon->pactl({"set-default-source", "micA"});
  }

  std::map<std::string, std::string> env(std::map<std::string, std::string> extra = {}) const {
    auto all = daemon->env();
    all["XDG_DATA_HOME"] = (dir.path() / "data").string();
    for (auto& [name, value] : extra) all[name] = value;
    return all;
  }

  ListenProcess& launch(std::map<std::string, std::string> extra = {}) {
    listen = std::make_unique<ListenProcess>(TOLVA_BINARY, env(std::move(extra)));
    EXPECT_TRUE(listen->awaitEvent("ready").is_object());
    return *listen;
  }

  // A session on `device` (none: the default) while speech goes into
  // `spokenInto` only: the audio it fed tells which source it recorded.
  // A source nobody records from stops reading its FIFO: keep what is
  // written then below a pipe's 64 KiB.
  Json sessionWhileSpeakingInto(const std::string& spokenInto, const std::optional<std::string>& device,
                                double seconds = 2) {
    Json start = {{"cmd", "start"}, {"locale", "en-US"}};
    if (device) start["device"] = *device;
    listen->send(start.dump());
    EXPECT_TRUE(listen->awaitEvent("capture-started", 30s).is_object());
    auto samples = librivoxSamples("0880");
    samples.resize(static_cast<std::size_t>(16000 * seconds));
    // micB runs at 48 kHz in stereo: each 16 kHz sample three times, twice.
    std::vector<std::int16_t> written;
    std::size_t copies = spokenInto == "micB" ? 6 : 1;
    for (auto sample : samples) written.insert(written.end(), copies, sample);
    daemon->speak(spokenInto, written);
    listen->pollEvent("volatile", 5s);
    listen->send(R"({"cmd":"stop"})");
    return listen->awaitEvent("session-ended", 30s);
  }

  TempDir dir;
  std::unique_ptr<PulseDaemon> daemon;
  std::unique_ptr<ListenProcess> listen;  // declared last: the child goes before its daemon
};

TEST_F(DevicesE2e, DevicesListsTheSourcesWithTheDefaultMarked) {
  ToolRun run = devicesWith(env());
  ASSERT_EQ(run.status, 0) << run.err;
  Json document = Json::parse(run.out);
  Json a = sourceNamed(document, "micA");
  Json b = sourceNamed(document, "micB");
  ASSERT_TRUE(a.is_object() && b.is_object()) << run.out;
  EXPECT_EQ(a, (Json{{"name", "micA"},
                     {"description", a["description"]},
                     {"rate", 16000},
                     {"channels", 1},
                     {"default", true},
                     {"monitor", false}}));
  EXPECT_EQ(b["rate"], 48000);
  EXPECT_EQ(b["channels"], 2);
  EXPECT_EQ(b["default"], false);
  // The null sink's monitor records what it plays.
  bool monitorListed = false;
  for (const Json& source : document["sources"]) monitorListed |= source["monitor"] == true;
  EXPECT_TRUE(monitorListed) << run.out;
  EXPECT_EQ(logEvent(run, "devices.done")["default"], "micA");
}

TEST_F(DevicesE2e, PulseSourceMovesTheDefaultMark) {
  ToolRun run = devicesWith(env({{"PULSE_SOURCE", "micB"}}));
  ASSERT_EQ(run.status, 0) << run.err;
  Json document = Json::parse(run.out);
  EXPECT_EQ(sourceNamed(document, "micB")["default"], true);
  EXPECT_EQ(sourceNamed(document, "micA")["default"], false);
}

TEST_F(DevicesE2e, WithoutASoundServerDevicesFailsWithItsErrorDocument) {
  ToolRun run = devicesWith(env({{"PULSE_SERVER", "unix:" + dir.path().string() + "/none"}}));
  ASSERT_EQ(run.status, 1) << run.err;
  Json document = Json::parse(run.out);
  EXPECT_EQ(document["error"], "devices-failed");
  EXPECT_EQ(document["message"], "the sound server's capture sources could not be listed");
  EXPECT_TRUE(document["detail"].get<std::string>().starts_with("cannot connect to the sound server")) << run.out;
}

TEST_F(DevicesE2e, AStartRecordsFromTheDeviceItNames) {
  launch();
  Json ended = sessionWhileSpeakingInto("micB", "micB");
  ASSERT_TRUE(ended.is_object());
  EXPECT_GT(ended.value("audioFedMs", 0), 1000) << ended;
  quitAndExpectCleanExit(*listen, 1);
}

TEST_F(DevicesE2e, PulseSourcePicksTheMicrophoneOfASessionWithoutDevice) {
  launch({{"PULSE_SOURCE", "micB"}});
  Json ended = sessionWhileSpeakingInto("micB", std::nullopt);
  ASSERT_TRUE(ended.is_object());
  EXPECT_GT(ended.value("audioFedMs", 0), 1000) << ended;
  // A start's device still wins over PULSE_SOURCE: micA hears nothing.
  Json other = sessionWhileSpeakingInto("micB", "micA", 0.3);
  EXPECT_EQ(other.value("audioFedMs", -1), 0) << other;
  quitAndExpectCleanExit(*listen, 2);
}

TEST_F(DevicesE2e, AnUnknownSourceFailsTheSessionNamingIt) {
  launch({{"PULSE_SOURCE", "gone"}});
  const std::pair<std::string, std::string> cases[] = {
      {R"({"cmd":"start","locale":"en-US","device":"nope"})",
       "the sound server has no capture source named 'nope'; `tolva-speech devices` lists the sources"},
      {R"({"cmd":"start","locale":"en-US"})",
       "the sound server has no capture source named 'gone' (from PULSE_SOURCE); `tolva-speech devices` lists the "
       "sources"},
  };
  std::int64_t session = 0;
  for (const auto& [start, message] : cases) {
    listen->send(start);
    Json failure = listen->awaitEvent("error", 30s);
    ASSERT_TRUE(failure.is_object());
    EXPECT_EQ(failure["code"], "session-failed");
    EXPECT_EQ(failure["message"], message);
    EXPECT_EQ(failure["session"], ++session);
    EXPECT_EQ(listen->awaitEvent("session-ended", 30s).value("failed", false), true);
  }
  quitAndExpectCleanExit(*listen, 2);
}

}  // namespace
}  // namespace tolva::test
