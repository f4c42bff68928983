// listen on audio the client feeds: the shipped binary reading a FIFO as it
// arrives, as raw PCM and in the containers a browser or a tool writes, a
// stop while nothing arrives, and streams that are not audio at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "support/librivox_clips.hpp"
#include "support/listen_process.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;

const std::string clip = "0880";

std::string fileBytes(const fs::path& path) {
  std::string bytes(fs::file_size(path), '\0');
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(read(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  return bytes;
}

std::string pcmBytes(const std::vector<std::int16_t>& samples) {
  return std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(std::int16_t));
}

// Writes `bytes` into the FIFO in pieces of `piece` bytes, as a client feeding
// its audio would; the open waits for the session to open its end.
// A reader that gave up (a stream it refused) ends the writing early.
void feedFifo(const fs::path& fifo, const std::string& bytes, std::size_t piece = 640) {
  signal(SIGPIPE, SIG_IGN);
  int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    std::size_t size = std::min(piece, bytes.size() - at);
    if (write(fd, bytes.data() + at, size) != static_cast<ssize_t>(size)) break;
  }
  close(fd);
}

class ListenStream : public testing::Test {
 protected:
  void SetUp() override {
    fifo = dir.path() / "audio.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    listen = std::make_unique<ListenProcess>(
        TOLVA_BINARY, std::map<std::string, std::string>{{"XDG_DATA_HOME", (dir.path() / "data").string()}});
    ASSERT_TRUE(listen->awaitEvent("ready").is_object());
  }

  Json start(const fs::path& path, Json extra = Json::object()) {
    Json command = {{"cmd", "start"}, {"locale", "en-US"}, {"stream", path.string()}};
    command.update(extra);
    return command;
  }

  // A file in another container, made by ffmpeg from the clip.
  fs::path encoded(const std::string& name, const std::vector<std::string>& codec) {
    fs::path out = dir.path() / name;
    std::vector<std::string> args{"-v", "error", "-i", librivoxClip(clip).string()};
    args.insert(args.end(), codec.begin(), codec.end());
    args.push_back(out.string());
    ToolRun run = runTool("/usr/bin/ffmpeg", args);
    EXPECT_EQ(run.status, 0) << run.err;
    return out;
  }

  // Feeds `bytes` through the FIFO into a session, which ends by itself at the
  // end of the stream; returns its session-ended and checks the transcript.
  Json transcribeFed(std::int64_t session, const Json& command, const std::string& bytes) {
    listen->send(command.dump());
    Json started = listen->awaitEvent("session-started");
    EXPECT_EQ(started.value("mode", ""), "stream");
    EXPECT_EQ(listen->awaitEvent("capture-started").value("source", ""), "stream");
    std::thread writer([&] { feedFifo(fifo, bytes); });
    // Unpaced: the session ends once the analyzer has decoded it all, which
    // a loaded machine takes a while for.
    Json ended = listen->awaitEvent("session-ended", 180s);
    writer.join();
    EXPECT_EQ(ended.value("session", -1), session);
    EXPECT_FALSE(ended.contains("failed")) << ended;
    std::string heard;
    for (const auto& final : listen->sessionEvents(session, "final")) heard += final.value("text", "") + " ";
    auto reference = librivoxReference(clip);
    EXPECT_GE(sharedWords(reference, wordsOf(heard)), reference.size() / 3) << command << ": " << heard;
    return ended;
  }

  TempDir dir;
  fs::path fifo;
  std::unique_ptr<ListenProcess> listen;
};

TEST_F(ListenStream, RawPcmIsTranscribedAndTheSessionEndsWithTheStream) {
  auto samples = librivoxSamples(clip);
  Json ended =
      transcribeFed(1, start(fifo, {{"format", "s16le"}, {"rate", 16000}, {"channels", 1}}), pcmBytes(samples));
  EXPECT_NEAR(ended.value("audioFedMs", 0), samples.size() / 16.0, 1);
  quitAndExpectCleanExit(*listen, 1);
}

TEST_F(ListenStream, ContainersAreDecodedAsTheyArrive) {
  struct Case {
    std::string name;
    std::string bytes;
  };
  const Case cases[] = {
      {"wav", fileBytes(librivoxClip(clip))},
      {"wav, bytes after its data", fileBytes(librivoxClip(clip)) + std::string(20000, 'Z')},
      {"wav/float", fileBytes(encoded("f.wav", {"-c:a", "pcm_f32le"}))},
      {"wav/mu-law", fileBytes(encoded("u.wav", {"-c:a", "pcm_mulaw"}))},
      {"ogg/opus", fileBytes(encoded("a.ogg", {"-c:a", "libopus", "-b:a", "48k"}))},
      {"webm/opus", fileBytes(encoded("a.webm", {"-c:a", "libopus", "-b:a", "48k"}))},
  };
  double clipMs = librivoxSamples(clip).size() / 16.0;
  std::int64_t session = 0;
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    Json ended = transcribeFed(++session, start(fifo), bytes);
    EXPECT_NEAR(ended.value("audioFedMs", 0), clipMs, 100);
  }
  quitAndExpectCleanExit(*listen, session);
}

TEST_F(ListenStream, AStopEndsAReadThatWaitsForData) {
  // No writer at all, then a writer who writes half a second and stalls.
  listen->send(start(fifo, {{"format", "s16le"}, {"rate", 16000}, {"channels", 1}}).dump());
  ASSERT_TRUE(listen->awaitEvent("capture-started").is_object());
  listen->send(R"({"cmd":"stop"})");
  Json ended = listen->awaitEvent("session-ended", 10s);
  ASSERT_TRUE(ended.is_object());
  EXPECT_EQ(ended.value("audioFedMs", -1), 0);
  EXPECT_FALSE(ended.contains("failed"));

  listen->send(start(fifo, {{"format", "s16le"}, {"rate", 16000}, {"channels", 1}}).dump());
  ASSERT_TRUE(listen->awaitEvent("capture-started").is_object());
  int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::string half = pcmBytes(std::vector<std::int16_t>(8000, 100));
  ASSERT_EQ(write(fd, half.data(), half.size()), static_cast<ssize_t>(half.size()));
  std::this_thread::sleep_for(300ms);
  listen->send(R"({"cmd":"stop"})");
  ended = listen->awaitEvent("session-ended", 10s);
  close(fd);
  ASSERT_TRUE(ended.is_object());
  EXPECT_EQ(ended.value("audioFedMs", -1), 500);
  EXPECT_FALSE(ended.contains("failed"));
  quitAndExpectCleanExit(*listen, 2);
}

// FFmpeg's WAV demuxer holds 64 KiB back (two seconds here) before the first
// sample; a PCM WAV's samples leave as they come, like raw PCM's.
TEST_F(ListenStream, APcmWavStreamsItsFirstSamplesAtOnce) {
  listen->send(start(fifo).dump());
  ASSERT_TRUE(listen->awaitEvent("capture-started").is_object());
  int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::string wav = fileBytes(librivoxClip(clip));
  std::size_t header = wav.find("data") + 8;
  ASSERT_LT(header, 200u);
  std::string start = wav.substr(0, header + 16000);  // half a second of samples
  ASSERT_EQ(write(fd, start.data(), start.size()), static_cast<ssize_t>(start.size()));
  std::this_thread::sleep_for(1s);  // the stream stays open: nothing more comes
  listen->send(R"({"cmd":"stop"})");
  Json ended = listen->awaitEvent("session-ended", 10s);
  close(fd);
  ASSERT_TRUE(ended.is_object());
  EXPECT_EQ(ended.value("audioFedMs", -1), 500);
  EXPECT_FALSE(ended.contains("failed"));
  quitAndExpectCleanExit(*listen, 1);
}

TEST_F(ListenStream, StreamsThatAreNotAudioFailTheSessionWithAClearMessage) {
  fs::path missing = dir.path() / "missing.fifo";
  fs::path directory = dir.path();
  struct Case {
    fs::path path;
    std::string garbage;  // written into the FIFO
    std::string message;  // how the message begins
  };
  const Case cases[] = {
      {missing, "", "cannot open audio stream '" + missing.string() + "': No such file or directory"},
      {directory, "", "cannot open audio stream '" + directory.string() + "': Is a directory"},
      {fifo, std::string(20000, '\x5a') + "not audio at all", "cannot decode the audio stream: "},
  };
  std::int64_t session = 0;
  for (const auto& [path, garbage, message] : cases) {
    SCOPED_TRACE(path);
    listen->send(start(path).dump());
    std::thread writer;
    if (!garbage.empty()) writer = std::thread([this, &bytes = garbage] { feedFifo(fifo, bytes); });
    Json failure = listen->awaitEvent("error", 30s);
    if (writer.joinable()) writer.join();
    ASSERT_TRUE(failure.is_object());
    EXPECT_EQ(failure.value("code", ""), "session-failed");
    EXPECT_EQ(failure.value("session", -1), ++session);
    EXPECT_TRUE(failure.value("message", "").starts_with(message)) << failure;
    EXPECT_EQ(listen->awaitEvent("session-ended", 30s).value("failed", false), true);
  }
  quitAndExpectCleanExit(*listen, session);
}

}  // namespace
}  // namespace tolva::test
