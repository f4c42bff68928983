// The one-shot commands of the shipped binary on a fresh model store.
#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e/model_store_test_support.hpp"
#include "support/documents.hpp"
#include "support/listen_process.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using namespace tolva::store::test;

const std::string clip = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";

class OneShotCommands : public StoreTest {
 protected:
  ToolRun tool(const std::vector<std::string>& args) { return runTool(TOLVA_BINARY, args); }

  // A locale served over loopback HTTP: the system English model repackaged.
  std::string serveEnglishAs(const std::string& locale, const std::string& sha256Override = "") {
    fs::path archive = temp.path() / "www" / "model.tar.gz";
    fs::create_directories(archive.parent_path());
    std::vector<ArchiveItem> items{ArchiveItem::directory("model/"), ArchiveItem::directory("model/acoustic/")};
    for (const auto& file : fs::directory_iterator(systemModelDir / "en-us")) {
      items.push_back(ArchiveItem::file("model/acoustic/" + file.path().filename().string(), readFile(file.path())));
    }
    items.push_back(ArchiveItem::file("model/lm.bin", readFile(systemModelDir / "en-us.lm.bin")));
    items.push_back(ArchiveItem::file("model/dict", readFile(systemModelDir / "cmudict-en-us.dict")));
    writeTarArchive(archive, items);
    server = std::make_unique<LoopbackHttpServer>(archive.parent_path(), temp.path() / "http.log");
    std::string sha = sha256Override.empty() ? sha256Of(archive) : sha256Override;
    writeCatalog("test.json", modelCatalogEntry(locale, server->url("model.tar.gz"),
                                                static_cast<std::int64_t>(fs::file_size(archive)), sha));
    return sha;
  }

  std::unique_ptr<LoopbackHttpServer> server;
};

TEST_F(OneShotCommands, SystemEnglishProbesInstallsAndReleases) {
  ToolRun probe = tool({"probe"});
  ASSERT_EQ(probe.status, 0) << probe.err;
  json document = json::parse(probe.out);
  EXPECT_EQ(document.size(), 14u);
  EXPECT_EQ(document["supportedLocales"], json({"en_US"}));
  EXPECT_EQ(document["installedLocales"], json({"en_US"}));
  EXPECT_EQ(document["assetStatusForEN"], "installed");

  ToolRun install = tool({"install", "--locale", "en-US"});
  ASSERT_EQ(install.status, 0) << install.err;
  document = json::parse(install.out);
  EXPECT_EQ(document["installRequested"], false);
  EXPECT_EQ(document["reserved"], true);
  EXPECT_EQ(document["reservedCount"], 1);
  EXPECT_EQ(document["statusAfter"], "installed");

  ToolRun release = tool({"release", "--locale", "en-US"});
  ASSERT_EQ(release.status, 0) << release.err;
  EXPECT_EQ(json::parse(release.out)["released"], true);
  EXPECT_EQ(json::parse(release.out)["reservedAfter"], json::array());

  expectFailure(tool({"release", "--locale", "en-US"}), "locale-not-reserved",
                "en_US holds no reservation on this machine", "reserved=0 maximum=5");
  EXPECT_TRUE(lines(probe.err).size() >= 4u);
}

TEST_F(OneShotCommands, CatalogLocaleInstallsOverHttpAndTranscribes) {
  serveEnglishAs("en-GB");
  ASSERT_TRUE(server->running());
  ToolRun install = tool({"install", "--locale", "en-GB"});
  ASSERT_EQ(install.status, 0) << install.err;
  json document = json::parse(install.out);
  EXPECT_EQ(document["installRequested"], true);
  EXPECT_EQ(document["statusBefore"], "supported");
  EXPECT_EQ(document["statusAfter"], "installed");
  EXPECT_FALSE(document["progressSamples"].empty());
  EXPECT_FALSE(logEvent(install, "install.downloadAndInstall.done").is_null());

  ToolRun transcribe = tool({"transcribe", clip, "--locale", "en-GB"});
  ASSERT_EQ(transcribe.status, 0) << transcribe.err;
  json transcript = json::parse(transcribe.out);
  EXPECT_EQ(transcript["_localeUsed"], "en_GB");
  EXPECT_NE(transcript["transcript"].get<std::string>().find("young man"), std::string::npos) << transcribe.out;
}

TEST_F(OneShotCommands, WrongChecksumFailsTheInstallAndLeavesTheStore) {
  serveEnglishAs("en-GB", std::string(64, '0'));
  auto before = storeContents();
  ToolRun install = tool({"install", "--locale", "en-GB"});
  EXPECT_EQ(install.status, 1);
  json document = json::parse(install.out);
  EXPECT_EQ(document["error"], "install-failed");
  EXPECT_NE(document["detail"].get<std::string>().find("checksum mismatch"), std::string::npos);
  auto after = storeContents();
  EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const std::string& p) { return p.starts_with("models"); }), 0);
}

// FFmpeg, PulseAudio and the download libraries are modules loaded on first
// use: a command that does not need one never loads it, and a binary
// installed without them says which one is missing instead of crashing.
TEST_F(OneShotCommands, OnlyWhatNeedsAModuleLoadsIt) {
  fs::path lone = temp.path() / "bin" / "tolva-speech";
  fs::create_directories(lone.parent_path());
  fs::copy_file(TOLVA_BINARY, lone);
  serveEnglishAs("en-GB");

  for (const char* command : {"probe", "install", "release"}) {
    ToolRun run = runTool(lone.string(), {command, "--locale", "en-US"});
    EXPECT_EQ(run.status, 0) << command << ": " << run.out << run.err;
  }
  struct Case {
    std::vector<std::string> args;
    const char* error;
    const char* module;
  };
  for (const Case& c : {Case{{"transcribe", clip, "--locale", "en-US"}, "audio-open-failed", "tolva-speech-ffmpeg.so"},
                        Case{{"install", "--locale", "en-GB"}, "install-failed", "tolva-speech-archive.so"}}) {
    ToolRun run = runTool(lone.string(), c.args);
    EXPECT_EQ(run.status, 1);
    json document = json::parse(run.out);
    EXPECT_EQ(document["error"], c.error);
    EXPECT_NE(document["detail"].get<std::string>().find(std::string(c.module) + " could not be loaded"),
              std::string::npos)
        << run.out;
  }

  ListenProcess listen(lone.string(), {});
  listen.send(R"({"cmd":"start","locale":"en-US"})");
  json failed = listen.awaitEvent("error", 60s);
  ASSERT_TRUE(failed.is_object());
  EXPECT_EQ(failed.value("code", ""), "session-failed");
  EXPECT_NE(failed.value("message", "").find("tolva-speech-pulse.so could not be loaded"), std::string::npos)
      << failed;
  listen.send(R"({"cmd":"quit"})");
  EXPECT_EQ(listen.waitExit(), 0);
}

// An installed tree keeps the module in <libdir>/tolva-speech/, found from the
// binary's real path: through a symlink elsewhere on the PATH as well.
TEST_F(OneShotCommands, AnInstalledTreeFindsItsModule) {
  fs::path binary = temp.path() / "tree" / "bin" / "tolva-speech";
  fs::path moduleDir = (binary.parent_path() / TOLVA_MODULE_DIR_FROM_BINARY).lexically_normal();
  fs::create_directories(binary.parent_path());
  fs::create_directories(moduleDir);
  fs::copy_file(TOLVA_BINARY, binary);
  fs::copy_file(TOLVA_FFMPEG_MODULE, moduleDir / fs::path(TOLVA_FFMPEG_MODULE).filename());
  fs::path link = temp.path() / "elsewhere" / "tolva-speech";
  fs::create_directories(link.parent_path());
  fs::create_symlink(binary, link);
  // Short audio: what matters is that it opens, not what it says.
  fs::path audio = temp.path() / "short.ogg";
  ASSERT_EQ(std::system(("sox -n -r 22050 -c 2 " + audio.string() + " synth 0.5 sine 440").c_str()), 0);

  for (const fs::path& run : {binary, link}) {
    ToolRun transcribe = runTool(run.string(), {"transcribe", audio.string(), "--locale", "en-US"});
    ASSERT_EQ(transcribe.status, 0) << run << "\n" << transcribe.out << transcribe.err;
    EXPECT_EQ(json::parse(transcribe.out)["_audioFormat"], "22050Hz ch=2 1") << run;
  }
}

}  // namespace
}  // namespace tolva::test
