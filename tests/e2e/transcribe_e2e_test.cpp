// transcribe on real speech through the shipped binary: accuracy on the
// librivox clips, every container a user may hand over, and broken files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/documents.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const fs::path librivox = "/usr/share/pocketsphinx/test/data/librivox";
const std::string emDash = "\xE2\x80\x94";

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string word; in >> word;) {
    for (auto& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out.push_back(word);
  }
  return out;
}

// Word-level edit distance.
std::size_t wordErrors(const std::vector<std::string>& reference, const std::vector<std::string>& hypothesis) {
  std::vector<std::size_t> row(hypothesis.size() + 1);
  for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= reference.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= hypothesis.size(); ++j) {
      std::size_t substitution = diagonal + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
      diagonal = row[j];
      row[j] = std::min({substitution, row[j] + 1, row[j - 1] + 1});
    }
  }
  return row.back();
}

// Clip name -> reference words, from the "<s> ... </s> (name)" lines.
std::map<std::string, std::vector<std::string>> references() {
  std::ifstream file(librivox / "transcription");
  std::map<std::string, std::vector<std::string>> out;
  for (std::string line; std::getline(file, line);) {
    auto open = line.rfind('(');
    std::string name = line.substr(open + 1, line.rfind(')') - open - 1);
    auto text = words(line.substr(0, open));
    std::erase_if(text, [](const std::string& w) { return w == "<s>" || w == "</s>"; });
    out[name] = text;
  }
  return out;
}

class TranscribeE2e : public testing::Test {
 protected:
  ToolRun transcribe(const fs::path& path) {
    ToolOptions options;
    options.env["XDG_DATA_HOME"] = (dir.path() / "data").string();
    return runTool(TOLVA_BINARY, {"transcribe", path.string(), "--locale", "en-US"}, options);
  }

  TempDir dir;
};

TEST_F(TranscribeE2e, LibrivoxClipsStayWithinTheReferenceWordErrorRate) {
  std::size_t errors = 0, total = 0;
  for (const auto& [name, reference] : references()) {
    ToolRun run = transcribe(librivox / (name + ".wav"));
    ASSERT_EQ(run.status, 0) << run.err;
    json document = json::parse(run.out);
    errors += wordErrors(reference, words(document["transcript"]));
    total += reference.size();

    double previousEnd = 0;
    for (const auto& segment : document["segments"]) {
      EXPECT_FALSE(words(segment["text"]).empty()) << name;
      EXPECT_GE(segment["start"].get<double>(), previousEnd) << name;
      EXPECT_LE(segment["start"].get<double>(), segment["end"].get<double>()) << name;
      EXPECT_LE(segment["end"].get<double>(), document["duration"].get<double>()) << name;
      previousEnd = segment["end"];
    }
  }
  double wer = static_cast<double>(errors) / static_cast<double>(total);
  std::cout << "librivox WER " << wer * 100 << "% over " << total << " words\n";
  EXPECT_LE(wer, 0.366);
}

TEST_F(TranscribeE2e, EveryCommonContainerTranscribes) {
  const fs::path source = librivox / "sense_and_sensibility_01_austen_64kb-0880.wav";
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
    std::ifstream in(librivox / "sense_and_sensibility_01_austen_64kb-0880.wav", std::ios::binary);
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
