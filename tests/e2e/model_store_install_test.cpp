// Model installs of the model store: a made-up en_GB catalog entry whose
// archive holds copies of the system en-us model files, built at test time
// and fetched over a loopback HTTP server or a file URL.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "e2e/model_store_test_support.hpp"
#include "platform/platform_error.hpp"

namespace tolva::store::test {
namespace {

struct Served {
  fs::path archive;
  std::int64_t size = 0;
  std::string sha256;
};

Served describe(const fs::path& path) {
  return Served{path, static_cast<std::int64_t>(fs::file_size(path)), sha256Of(path)};
}

class ModelStoreInstallTest : public StoreTest {
 protected:
  fs::path served() const { return temp.path() / "served"; }

  Served makeArchive(const std::string& name, const std::vector<ArchiveItem>& items) const {
    fs::create_directories(served());
    fs::path path = served() / name;
    writeTarArchive(path, items);
    return describe(path);
  }

  void catalogEnglishGb(const std::string& url, std::int64_t size, const std::string& sha256) const {
    writeCatalog("en-gb.json", modelCatalogEntry("en-GB", url, size, sha256, "en-gb"));
  }

  // Installs en_GB while another thread samples the progress, as the install
  // command does. Returns the largest completed count seen.
  std::int64_t installWithSampler(ModelStore& store) {
    auto request = store.assetInstallationRequest(modules({"en_GB"}));
    if (!request) throw std::runtime_error("no installation request");
    std::atomic<bool> done = false;
    std::int64_t seen = 0;
    std::jthread sampler([&] {
      while (!done) {
        seen = std::max(seen, request->progress().completedUnitCount());
        EXPECT_LE(request->progress().fractionCompleted(), 1.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    try {
      request->downloadAndInstall();
    } catch (...) {
      done = true;
      throw;
    }
    done = true;
    sampler.join();
    EXPECT_EQ(request->progress().completedUnitCount(), request->progress().totalUnitCount());
    EXPECT_EQ(request->progress().fractionCompleted(), 1.0);
    return std::max(seen, request->progress().completedUnitCount());
  }

  void expectInstalled(ModelStore& store) const {
    EXPECT_EQ(store.status(modules({"en_GB"})), AssetStatus::installed);
    EXPECT_EQ(store.assetInstallationRequest(modules({"en_GB", "en_US"})), nullptr);
    auto model = store.installedModel(Locale("en-GB"));
    ASSERT_TRUE(model);
    for (const std::string& path : {model->acousticModel, model->languageModel, model->dictionary}) {
      EXPECT_EQ(path.rfind(storeRoot().string(), 0), 0u) << path;
    }
    EXPECT_EQ(readFile(fs::path(model->acousticModel) / "mdef"), readFile(systemModelDir / "en-us" / "mdef"));
    EXPECT_EQ(fs::file_size(model->languageModel), fs::file_size(systemModelDir / "en-us-phone.lm.bin"));
    EXPECT_EQ(fs::file_size(model->dictionary), fs::file_size(systemModelDir / "cmudict-en-us.dict"));
    EXPECT_TRUE(fs::is_empty(storeRoot() / "staging"));
  }
};

TEST_F(ModelStoreInstallTest, InstallsOverLoopbackHttpAndThenFromAFileUrl) {
  Served archive = makeArchive("en-gb.tar.gz", realModelItems("en-gb"));
  LoopbackHttpServer server(served(), temp.path() / "http.log");
  ASSERT_TRUE(server.running());
  catalogEnglishGb(server.url("en-gb.tar.gz"), archive.size, archive.sha256);
  auto store = makeModelStore();
  ASSERT_EQ(store->status(modules({"en_GB"})), AssetStatus::supported);
  ASSERT_TRUE(store->reserve(Locale("en_GB")));

  EXPECT_EQ(installWithSampler(*store), archive.size);
  expectInstalled(*store);
  expectInstalled(*makeModelStore());
  EXPECT_EQ(server.downloadsOf("en-gb.tar.gz"), 1);

  // Release deletes the store's copy; the same model then comes from a file.
  EXPECT_TRUE(store->release(Locale("en-GB")));
  EXPECT_EQ(store->status(modules({"en_GB"})), AssetStatus::supported);
  EXPECT_FALSE(fs::exists(storeRoot() / "models" / "en_GB"));
  catalogEnglishGb(fileUrl(archive.archive), archive.size, archive.sha256);
  auto fromFile = makeModelStore();
  ASSERT_TRUE(fromFile->reserve(Locale("en_GB")));
  EXPECT_EQ(installWithSampler(*fromFile), archive.size);
  expectInstalled(*fromFile);
}

TEST_F(ModelStoreInstallTest, FailedInstallsSayWhyAndLeaveTheStoreUnchanged) {
  Served good = makeArchive("good.tar.gz", smallModelItems("en-gb"));
  fs::path cut = served() / "cut.tar.gz";
  fs::copy_file(good.archive, cut);
  fs::resize_file(cut, static_cast<std::uintmax_t>(good.size / 2));

  auto withItem = [&](const std::string& name, ArchiveItem item) {
    auto items = smallModelItems("en-gb");
    items.insert(items.begin() + 2, std::move(item));
    return makeArchive(name, items);
  };
  Served dotDot = withItem("dotdot.tar.gz", ArchiveItem::file("en-gb/../../escaped", "outside"));
  using Type = ArchiveItem::Type;
  Served symlink = withItem("symlink.tar.gz", ArchiveItem::link(Type::symlink, "en-gb/link", "/etc/passwd"));
  Served hardlinkOut = withItem("hardlink.tar.gz", ArchiveItem::link(Type::hardlink, "en-gb/hard", "en-gb/../../x"));
  Served hardlinkAbsolute =
      withItem("hardlink-abs.tar.gz", ArchiveItem::link(Type::hardlink, "en-gb/hard", "/etc/passwd"));
  Served hardlinkAhead =
      withItem("hardlink-ahead.tar.gz", ArchiveItem::link(Type::hardlink, "en-gb/hard", "en-gb/dict"));
  Served hardlinkToDir =
      withItem("hardlink-dir.tar.gz", ArchiveItem::link(Type::hardlink, "en-gb/hard", "en-gb/acoustic"));
  fs::path fifo = served() / "fifo.tar.gz";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const std::string absoluteName = (temp.path() / "absolute-escaped").string();
  Served absolute = withItem("absolute.tar.gz", ArchiveItem::file(absoluteName, "outside"));
  // 100 GiB of apparent size in a few hundred bytes.
  Served sparse = withItem("sparse.tar.gz", ArchiveItem::sparse("en-gb/huge", std::int64_t{100} << 30, "tail"));
  auto withoutDictionary = smallModelItems("en-gb");
  withoutDictionary.pop_back();
  Served noDictionary = makeArchive("nodict.tar.gz", withoutDictionary);
  std::ofstream(served() / "plain.txt") << "just text";
  Served notArchive = describe(served() / "plain.txt");

  struct Case {
    std::string name;
    std::string url;
    std::int64_t size;
    std::string sha256;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"wrong checksum", fileUrl(good.archive), good.size, std::string(64, 'a'),
       "checksum mismatch: expected " + std::string(64, 'a') + " got " + good.sha256},
      {"truncated download", fileUrl(cut), good.size, good.sha256,
       "size mismatch: expected " + std::to_string(good.size) + " bytes, got " + std::to_string(good.size / 2)},
      {"longer than the catalog says", fileUrl(good.archive), good.size - 1, good.sha256, "larger than the catalog's"},
      {"truncated archive", fileUrl(cut), good.size / 2, sha256Of(cut), "the model archive is damaged"},
      {"not an archive", fileUrl(notArchive.archive), notArchive.size, notArchive.sha256,
       "the model archive is damaged"},
      {"dot-dot entry", fileUrl(dotDot.archive), dotDot.size, dotDot.sha256,
       "entry 'en-gb/../../escaped' was refused: its path leaves the archive root"},
      {"absolute entry", fileUrl(absolute.archive), absolute.size, absolute.sha256,
       "entry '" + absoluteName + "' was refused: its path is absolute"},
      {"symlink entry", fileUrl(symlink.archive), symlink.size, symlink.sha256,
       "entry 'en-gb/link' was refused: it is a symbolic link"},
      {"hard link leaving the archive", fileUrl(hardlinkOut.archive), hardlinkOut.size, hardlinkOut.sha256,
       "entry 'en-gb/hard' was refused: its link target leaves the archive root"},
      {"hard link to an absolute path", fileUrl(hardlinkAbsolute.archive), hardlinkAbsolute.size,
       hardlinkAbsolute.sha256, "entry 'en-gb/hard' was refused: its link target is absolute"},
      {"hard link to a later file", fileUrl(hardlinkAhead.archive), hardlinkAhead.size, hardlinkAhead.sha256,
       "entry 'en-gb/hard' was refused: its link target is not a file unpacked before it"},
      {"hard link to a directory", fileUrl(hardlinkToDir.archive), hardlinkToDir.size, hardlinkToDir.sha256,
       "entry 'en-gb/hard' was refused: its link target is not a file unpacked before it"},
      {"FIFO as the source", fileUrl(fifo), good.size, good.sha256,
       "download of " + fileUrl(fifo) + " failed: " + fifo.string() + " is not a regular file"},
      {"character device as the source", "file:///dev/zero", good.size, good.sha256,
       "download of file:///dev/zero failed: /dev/zero is not a regular file"},
      {"sparse entry of 100 GiB", fileUrl(sparse.archive), sparse.size, sparse.sha256,
       "entry 'en-gb/huge' was refused: the archive unpacks to more data than a model can hold"},
      {"model file missing", fileUrl(noDictionary.archive), noDictionary.size, noDictionary.sha256,
       "the model archive lacks the dictionary en-gb/dict"},
      {"missing file", fileUrl(served() / "absent.tar.gz"), good.size, good.sha256,
       "download of " + fileUrl(served() / "absent.tar.gz") + " failed: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    catalogEnglishGb(c.url, c.size, c.sha256);
    auto store = makeModelStore();
    auto before = storeContents();
    auto request = store->assetInstallationRequest(modules({"en_GB"}));
    ASSERT_TRUE(request);
    try {
      request->downloadAndInstall();
      ADD_FAILURE() << "installed";
    } catch (const PlatformError& error) {
      EXPECT_NE(std::string(error.what()).find(c.expected), std::string::npos) << error.what();
    }
    EXPECT_EQ(storeContents(), before);
    EXPECT_EQ(store->status(modules({"en_GB"})), AssetStatus::supported);
    EXPECT_FALSE(store->installedModel(Locale("en_GB")));
  }
  EXPECT_FALSE(fs::exists(temp.path() / "escaped"));
  EXPECT_FALSE(fs::exists(storeRoot() / "escaped"));
  EXPECT_FALSE(fs::exists(absoluteName));
}

// Hard links between the archive's own files, and an inner ".." that stays
// inside, are what ordinary archivers write: such an archive installs.
TEST_F(ModelStoreInstallTest, HardLinksAndInnerDotDotThatStayInsideInstall) {
  using Type = ArchiveItem::Type;
  auto items = tinyModelItems("en-gb");
  items.back().name = "en-gb/acoustic/../dict.orig";  // lands in en-gb/
  items.push_back(ArchiveItem::link(Type::hardlink, "en-gb/x/../dict", "en-gb/acoustic/../dict.orig"));
  items.push_back(ArchiveItem::link(Type::hardlink, "en-gb/acoustic/means.copy", "en-gb/acoustic/means"));
  Served archive = makeArchive("links.tar.gz", items);
  catalogEnglishGb(fileUrl(archive.archive), archive.size, archive.sha256);
  auto store = makeModelStore();
  ASSERT_TRUE(store->reserve(Locale("en_GB")));
  installWithSampler(*store);

  auto model = store->installedModel(Locale("en_GB"));
  ASSERT_TRUE(model);
  fs::path root = storeRoot() / "models" / "en_GB" / "en-gb";
  EXPECT_EQ(readFile(model->dictionary), "hello HH AH L OW\n");
  EXPECT_TRUE(fs::equivalent(root / "dict", root / "dict.orig"));
  EXPECT_TRUE(fs::equivalent(root / "acoustic" / "means", root / "acoustic" / "means.copy"));
  EXPECT_FALSE(fs::exists(root / "x")) << "a directory only named on the way is not made";
  EXPECT_TRUE(fs::is_empty(storeRoot() / "staging"));
}

TEST_F(ModelStoreInstallTest, HttpErrorIsCurlsDescription) {
  LoopbackHttpServer server(served().parent_path(), temp.path() / "http.log");
  ASSERT_TRUE(server.running());
  catalogEnglishGb(server.url("absent.tar.gz"), 1000, std::string(64, 'a'));
  auto request = makeModelStore()->assetInstallationRequest(modules({"en_GB"}));
  ASSERT_TRUE(request);
  try {
    request->downloadAndInstall();
    ADD_FAILURE() << "installed";
  } catch (const PlatformError& error) {
    EXPECT_EQ(std::string(error.what()),
              "download of " + server.url("absent.tar.gz") + " failed: The requested URL returned error: 404");
  }
}

// A trickle ends at the rate floor or at the deadline of the whole download,
// and the detail names both limits. The limits are shortened for the test;
// the server's pace misses each by a wide margin.
TEST_F(ModelStoreInstallTest, SlowDownloadsEndAtTheFloorOrTheDeadlineNamingBoth) {
  EXPECT_EQ(DownloadLimits{}.deadline(std::int64_t{1} << 20), std::chrono::seconds(1024 + 60));
  fs::create_directories(served());
  std::ofstream(served() / "slow.bin") << noise(4096, 7);
  LoopbackHttpServer server(served(), temp.path() / "http.log", 400);  // a 1 KiB piece every 2.56 s
  ASSERT_TRUE(server.running());
  struct Case {
    std::string name;
    DownloadLimits limits;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"below the floor",
       {1024, std::chrono::seconds(2), std::chrono::seconds(60)},
       "below its floor (floor 1024 bytes/s averaged over 2 s; deadline 64 s for the catalog's size at that floor)"},
      {"past the deadline",
       {1024, std::chrono::seconds(60), std::chrono::seconds(0)},
       "did not finish within its deadline (floor 1024 bytes/s averaged over 60 s; deadline 4 s for the catalog's "
       "size at that floor)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path destination = temp.path() / ("download-" + std::to_string(&c - cases.data()));
    try {
      downloadArchive(
          server.url("slow.bin"), destination, 4096, [](std::int64_t) {}, c.limits);
      ADD_FAILURE() << "downloaded";
    } catch (const PlatformError& error) {
      std::string detail = error.what();
      EXPECT_EQ(detail.rfind("download of " + server.url("slow.bin") + " failed: ", 0), 0u) << detail;
      EXPECT_NE(detail.find(c.expected), std::string::npos) << detail;
    }
  }
}

// Two processes install the same locale at once: both succeed, the archive
// is fetched once, and one model ends up in the store.
TEST_F(ModelStoreInstallTest, ConcurrentInstallsInTwoProcessesDownloadOnce) {
  Served archive = makeArchive("en-gb.tar.gz", realModelItems("en-gb"));
  LoopbackHttpServer server(served(), temp.path() / "http.log");
  ASSERT_TRUE(server.running());
  catalogEnglishGb(server.url("en-gb.tar.gz"), archive.size, archive.sha256);
  ASSERT_TRUE(makeModelStore()->reserve(Locale("en_GB")));
  auto install = [] {
    auto request = makeModelStore()->assetInstallationRequest(modules({"en_GB"}));
    if (request) request->downloadAndInstall();
  };
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      install();
      _exit(0);
    } catch (...) {
      _exit(1);
    }
  }
  EXPECT_NO_THROW(install());
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process's install failed";

  EXPECT_EQ(server.downloadsOf("en-gb.tar.gz"), 1);
  auto store = makeModelStore();
  expectInstalled(*store);
  EXPECT_EQ(std::distance(fs::directory_iterator(storeRoot() / "models"), fs::directory_iterator()), 1);
}

// An install killed in the middle of its download: while it runs the locale
// reports downloading; after the kill the store is as before, the next store
// removes the staging directory, and a new install succeeds.
TEST_F(ModelStoreInstallTest, KilledInstallLeavesNothingBehind) {
  Served archive = makeArchive("en-gb.tar.gz", tinyModelItems("en-gb"));
  // 2 KiB/s: the download would take half an hour; the child dies early in it.
  LoopbackHttpServer server(served(), temp.path() / "http.log", 2048);
  ASSERT_TRUE(server.running());
  catalogEnglishGb(server.url("en-gb.tar.gz"), archive.size, archive.sha256);
  auto before = storeContents();

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      auto request = makeModelStore()->assetInstallationRequest(modules({"en_GB"}));
      if (request) request->downloadAndInstall();
    } catch (...) {
    }
    _exit(0);
  }
  {
    ASSERT_TRUE(waitForDownloadUnderWay(storeRoot()));
    auto store = makeModelStore();
    EXPECT_EQ(store->status(modules({"en_GB"})), AssetStatus::downloading);
    EXPECT_FALSE(fs::is_empty(storeRoot() / "staging")) << "a live install's staging directory stays";
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
  }

  auto store = makeModelStore();
  EXPECT_EQ(storeContents(), before);
  EXPECT_EQ(store->status(modules({"en_GB"})), AssetStatus::supported);
  catalogEnglishGb(fileUrl(archive.archive), archive.size, archive.sha256);
  auto next = makeModelStore();
  ASSERT_TRUE(next->reserve(Locale("en_GB")));
  EXPECT_EQ(installWithSampler(*next), archive.size);
  EXPECT_EQ(next->status(modules({"en_GB"})), AssetStatus::installed);
}

}  // namespace
}  // namespace tolva::store::test
