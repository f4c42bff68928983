// transcribe on real speech through the shipped binary: accuracy on the
// librivox clips, every container a user may hand over, and broken files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/documents.hpp"
#include "support/librivox_clips.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const std::string emDash = "\xE2\x80\x94";

class TranscribeE2e : public testing::Test {
 protected:
  ToolRun transcribe(const fs::path& path) {
    ToolOptions options;
    options.env["XDG_DATA_HOME"] = (dir.path() / "data").string();
    return runTool(TOLVA_BINARY, {"transcribe", path.string(), "--locale", "en-US"}, options);
  }

  TempDir dir;
};

// Their word error rate is bounded by the recognition guard, in one place.
TEST_F(TranscribeE2e, LibrivoxClipsGiveOrderedSegmentsOfWords) {
  for (const std::string& name : librivoxClipNumbers()) {
    ToolRun run = transcribe(librivoxClip(name));
    ASSERT_EQ(run.status, 0) << run.err;
    json document = json::parse(run.out);
    EXPECT_FALSE(wordsOf(document["transcript"]).empty()) << name;

    double previousEnd = 0;
    for (const auto& segment : document["segments"]) {
      EXPECT_FALSE(wordsOf(segment["text"]).empty()) << name;
      EXPECT_GE(segment["start"].get<double>(), previousEnd) << name;
      EXPECT_LE(segment["start"].get<double>(), segment["end"].get<double>()) << name;
      EXPECT_LE(segment["end"].get<double>(), document["duration"].get<double>()) << name;
      previousEnd = segment["end"];
    }
  }
}

TEST_F(TranscribeE2e, EveryCommonContainerTranscribes) {
  const fs::path source = librivoxClip("0880");
  for (const char* extension : {"mp3", "m4a", "flac", "ogg"}) {
    fs::path encoded = dir.path() / (std::string("speech.") + extension);
    std::string command = "ffmpeg -nostdin -loglevel error -y -i '" + source.string() + "' -ar 44100 -ac 2 '" +
                          encoded.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    ToolRun run = transcribe(encoded);
    ASSERT_EQ(run.status, 0) << extension << run.err;
    json document = json::parse(run.out);
    EXPECT_NE(document["transcript"].get<std::string>().find("man"), std::string::npos) << extension << run.out;
    EXPECT_NEAR(document["duration"].get<double>(), 2.99, 0.1) << extension;  // the clip lasts 2.99 s
    EXPECT_TRUE(document["_audioFormat"].get<std::string>().starts_with("44100Hz ch=2")) << extension;
  }
}

TEST_F(TranscribeE2e, BrokenFilesGetTheirDocumentedErrors) {
  std::string wav;
  {
    std::ifstream in(librivoxClip("0880"), std::ios::binary);
    wav.assign(std::istreambuf_iterator<char>(in), {});
  }
  fs::path garbage = dir.write("garbage.wav", std::string(4096, '\x5a'));
  fs::path empty = dir.write("empty.mp3", "");
  fs::path folder = dir.path() / "folder.wav";
  fs::create_directories(folder);
  for (const fs::path& path : {garbage, empty, folder}) {
    ToolRun run = transcribe(path);
    EXPECT_EQ(run.status, 1) << path;
    json document = json::parse(run.out);
    EXPECT_EQ(document["error"], "audio-open-failed") << path;
    EXPECT_EQ(document["message"], "AVAudioFile could not read " + path.filename().string() + " " + emDash +
                                       " AVFoundation does not decode this container/codec");
    EXPECT_FALSE(document["detail"].get<std::string>().empty()) << path;
  }
  // A file cut short: an error, or the speech that is there; never a crash.
  fs::path truncated = dir.write("truncated.wav", wav.substr(0, wav.size() / 2));
  ToolRun run = transcribe(truncated);
  ASSERT_TRUE(run.status == 0 || run.status == 1) << run.status << run.err;
  json document = json::parse(run.out);
  if (run.status == 1) {
    EXPECT_TRUE(document["error"] == "audio-open-failed" || document["error"] == "analyze-failed") << run.out;
  } else {
    EXPECT_LT(document["duration"].get<double>(), 1.5);
  }
}

}  // namespace
}  // namespace tolva::test
