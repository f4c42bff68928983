// A loadable module that is damaged on disk (cut short by a full disk or an
// interrupted copy, or not a file at all) fails like a missing one, naming the
// file, instead of killing the process when the loader touches its pages.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/listen_process.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path clip = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";
const std::string moduleName = "tolva-speech-ffmpeg.so";

enum class Damage { missing, half, headerOnly, empty, directory };

// Where the module's loadable segments end in its file: the debug sections
// after them are never mapped, so only a cut before this point is felt.
std::uintmax_t loadedExtent(const fs::path& module) {
  std::ifstream in(module, std::ios::binary);
  Elf64_Ehdr header{};
  in.read(reinterpret_cast<char*>(&header), sizeof header);
  std::uintmax_t extent = 0;
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment{};
    in.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof segment));
    in.read(reinterpret_cast<char*>(&segment), sizeof segment);
    if (segment.p_type == PT_LOAD) extent = std::max<std::uintmax_t>(extent, segment.p_offset + segment.p_filesz);
  }
  return extent;
}

// A copy of the shipped binary with its FFmpeg module beside it, damaged.
struct DamagedTree {
  TempDir dir;
  fs::path binary = dir.path() / "tolva-speech";
  fs::path module = dir.path() / moduleName;

  explicit DamagedTree(Damage damage) {
    fs::copy_file(TOLVA_BINARY, binary);
    switch (damage) {
      case Damage::missing:
        break;
      case Damage::half:
        fs::copy_file(TOLVA_FFMPEG_MODULE, module);
        fs::resize_file(module, loadedExtent(module) / 2);  // inside its code: SIGBUS once, on the first touch
        break;
      case Damage::headerOnly:
        fs::copy_file(TOLVA_FFMPEG_MODULE, module);
        fs::resize_file(module, 64);
        break;
      case Damage::empty:
        std::ofstream(module).flush();
        break;
      case Damage::directory:
        fs::create_directory(module);
        break;
    }
  }
  std::map<std::string, std::string> env() const { return {{"XDG_DATA_HOME", (dir.path() / "data").string()}}; }
};

class DamagedModule : public testing::TestWithParam<Damage> {};

TEST_P(DamagedModule, TranscribeFailsNamingTheModule) {
  DamagedTree tree(GetParam());
  ToolOptions options;
  options.env = tree.env();
  ToolRun run = runTool(tree.binary.string(), {"transcribe", clip.string(), "--locale", "en-US"}, options);
  ASSERT_EQ(run.status, 1) << run.err;
  json document = json::parse(run.out);
  EXPECT_EQ(document["error"], "audio-open-failed");
  std::string detail = document.value("detail", "");
  EXPECT_NE(detail.find("the FFmpeg audio module " + tree.module.string() + " could not be loaded: "),
            std::string::npos)
      << detail;
}

TEST_P(DamagedModule, AReplaySessionFailsAndTheServiceGoesOn) {
  DamagedTree tree(GetParam());
  ListenProcess listen(tree.binary.string(), tree.env());
  listen.send(R"({"cmd":"start","locale":"en-US","replay":")" + clip.string() + R"("})");
  json error = listen.awaitEvent("error");
  ASSERT_FALSE(error.is_null());
  EXPECT_EQ(error["code"], "session-failed");
  EXPECT_NE(error.value("message", "").find(tree.module.string()), std::string::npos) << error;
  quitAndExpectCleanExit(listen, 1);
}

std::string damageName(const testing::TestParamInfo<Damage>& info) {
  static const char* const names[] = {"missing", "half", "headerOnly", "empty", "directory"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedModule,
                         testing::Values(Damage::missing, Damage::half, Damage::headerOnly, Damage::empty,
                                         Damage::directory),
                         damageName);

}  // namespace
}  // namespace tolva::test
