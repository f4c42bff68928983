// The shipped binary on stores it cannot use as they are: read-only, a
// regular file in the store's place, a damaged reservations file, a full
// disk, and an archive bomb. Each gives a clear document and exit status,
// and writes nothing outside the store.

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>

#include "e2e/model_store_test_support.hpp"
#include "e2e/store_check.hpp"
#include "support/documents.hpp"

namespace tolva::store::test {
namespace {

using nlohmann::json;
using tolva::test::ToolRun;

constexpr uid_t nobody = 65534;

// Every path under a directory with its size and time, but those under
// `except`.
std::map<std::string, std::string> snapshot(const fs::path& dir, const fs::path& except) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == except) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat info {};
    lstat(it->path().c_str(), &info);
    files[it->path().string()] = std::to_string(info.st_size) + "@" + std::to_string(info.st_mtim.tv_sec) + "." +
                                 std::to_string(info.st_mtim.tv_nsec);
  }
  return files;
}

// A small tmpfs mounted for the object's life, where mounting is permitted.
class SmallTmpfs {
 public:
  SmallTmpfs(const fs::path& at, const std::string& size) : at_(at) {
    fs::create_directories(at);
    std::string options = "size=" + size + ",mode=0755";
    if (mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) error_ = std::strerror(errno);
  }
  ~SmallTmpfs() {
    if (error_.empty()) umount2(at_.c_str(), MNT_DETACH);
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  // Why it could not be mounted; empty when it is.
  const std::string& error() const { return error_; }

  // Writes a file until the file system is full.
  void fill() const {
    int fd = open((at_ / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    std::string piece(1 << 16, 'x');
    while (write(fd, piece.data(), piece.size()) > 0) {
    }
    std::string small(512, 'x');
    while (write(fd, small.data(), small.size()) > 0) {
    }
    close(fd);
  }
  void empty() const { fs::remove(at_ / "filler"); }

 private:
  fs::path at_;
  std::string error_;
};

class StoreBadStates : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    fs::path archive = temp.path() / "www" / "model.tar.gz";
    fs::create_directories(archive.parent_path());
    writeTarArchive(archive, tinyModelItems("model"));
    std::string catalog;
    for (const char* locale : {"fr-FR", "de-DE"}) {
      catalog += (catalog.empty() ? "[" : ",") + modelCatalogEntry(locale, fileUrl(archive),
                                                                   static_cast<std::int64_t>(fs::file_size(archive)),
                                                                   sha256Of(archive));
    }
    writeCatalog("catalog.json", catalog + "]", /*system=*/true);
  }

  // Runs the tool; `unprivileged` runs it as a user who owns nothing here
  // when the test runs as root, for whom permission bits stop nothing.
  ToolRun tool(const std::vector<std::string>& args, bool unprivileged = false) const {
    tolva::test::ToolOptions options;
    options.env["HOME"] = (temp.path() / "user-home").string();
    if (!unprivileged || geteuid() != 0) return tolva::test::runTool(TOLVA_BINARY, args, options);
    std::vector<std::string> wrapped{"--reuid=" + std::to_string(nobody), "--regid=" + std::to_string(nobody),
                                     "--clear-groups", TOLVA_BINARY};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    return tolva::test::runTool("/usr/bin/setpriv", wrapped, options);
  }

  void writeReservations(const std::string& json) const {
    fs::create_directories(storeRoot());
    std::ofstream(storeRoot() / "reservations.json") << json;
  }

  // The user's own store, made read-only: the files stay theirs.
  void makeStoreReadOnly() const {
    std::ofstream(storeRoot() / "reservations.lock").flush();
    if (geteuid() == 0) {
      chmod(temp.path().c_str(), 0755);
      for (const auto& entry : fs::recursive_directory_iterator(storeRoot())) {
        lchown(entry.path().c_str(), nobody, nobody);
      }
      lchown(storeRoot().c_str(), nobody, nobody);
    }
    chmod(storeRoot().c_str(), 0555);
  }
};

// The document of a failed run: exit 1, the code, and a detail that says why.
void expectFailureSaying(const ToolRun& run, const std::string& code, const std::string& detailPart) {
  EXPECT_EQ(run.status, 1) << run.err;
  json document = json::parse(run.out, nullptr, false);
  ASSERT_TRUE(document.is_object()) << run.out;
  EXPECT_EQ(document["error"], code) << run.out;
  EXPECT_NE(document.value("detail", "").find(detailPart), std::string::npos) << run.out;
}

TEST_F(StoreBadStates, EachGivesAClearDocumentAndWritesNothingOutsideTheStore) {
  if (geteuid() == 0 && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "running as root without setpriv";
  const std::string root = storeRoot().string();
  struct Case {
    std::string name;
    std::function<void()> prepare;
    std::vector<std::string> args;
    bool unprivileged;
    std::string code;  // empty: the run succeeds
    std::string detailPart;
  };
  auto readOnlyReserving = [&](const std::string& reserved) {
    return [&, reserved] {
      writeReservations(reserved);
      makeStoreReadOnly();
    };
  };
  auto regularFile = [&] {
    fs::create_directories(dataHome());
    std::ofstream(storeRoot()) << "not a directory";
  };
  auto damaged = [&] { writeReservations("{\"reserved\": [1, \"fr-FR\""); };
  const std::vector<Case> cases{
      {"read-only store, install of a reserved locale",
       readOnlyReserving(R"({"reserved":["fr-FR"]})"),
       {"install", "--locale", "fr-FR"},
       true,
       "install-failed",
       "cannot create " + root + "/locks: Permission denied"},
      {"read-only store, install of another locale",
       readOnlyReserving(R"({"reserved":["fr-FR"]})"),
       {"install", "--locale", "de-DE"},
       true,
       "reserve-failed",
       "reservations.json.tmp: Permission denied"},
      {"read-only store, release",
       readOnlyReserving(R"({"reserved":["fr-FR"]})"),
       {"release", "--locale", "fr-FR"},
       true,
       "release-failed",
       "reservations.json.tmp: Permission denied"},
      {"read-only store, probe", readOnlyReserving(R"({"reserved":["fr-FR"]})"), {"probe"}, true, "", ""},
      {"store path is a file, install",
       regularFile,
       {"install", "--locale", "fr-FR"},
       false,
       "reserve-failed",
       "cannot create " + root + ": "},
      {"store path is a file, release",
       regularFile,
       {"release", "--locale", "fr-FR"},
       false,
       "locale-not-reserved",
       "reserved=0"},
      {"store path is a file, probe", regularFile, {"probe"}, false, "", ""},
      {"damaged reservations, release",
       damaged,
       {"release", "--locale", "fr-FR"},
       false,
       "locale-not-reserved",
       "reserved=0"},
      {"damaged reservations, install", damaged, {"install", "--locale", "fr-FR"}, false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dataHome());
    c.prepare();
    auto outside = snapshot(temp.path(), storeRoot());
    auto store = fs::is_directory(storeRoot()) ? snapshot(storeRoot(), "") : decltype(outside){};
    ToolRun run = tool(c.args, c.unprivileged);
    if (c.code.empty()) {
      EXPECT_EQ(run.status, 0) << run.out << run.err;
      EXPECT_TRUE(json::parse(run.out, nullptr, false).is_object()) << run.out;
    } else {
      expectFailureSaying(run, c.code, c.detailPart);
    }
    EXPECT_EQ(snapshot(temp.path(), storeRoot()), outside);
    if (c.unprivileged) {
      EXPECT_EQ(snapshot(storeRoot(), ""), store) << "a read-only store changed";
    }
    chmod(storeRoot().c_str(), 0755);
  }
  expectValidStore(readStoreState(storeRoot()));  // the damaged file, replaced by the last case's install
}

// Links and FIFOs where the store keeps its own directories and files: a
// link is removed (never followed, its target untouched), a FIFO is not a
// file to read, and no command blocks on one.
TEST_F(StoreBadStates, LinksAndFifosInTheStoreAreNeverFollowedNorWaitedFor) {
  const fs::path user = temp.path() / "user-files";
  const fs::path outsideFile = temp.path() / "outside" / "created";
  auto linkTo = [&](const std::string& name, const fs::path& target) {
    return [&, name, target] {
      fs::create_directories((storeRoot() / name).parent_path());
      fs::create_symlink(target, storeRoot() / name);
    };
  };
  auto fifo = [&](const std::string& name) {
    return [&, name] {
      fs::create_directories((storeRoot() / name).parent_path());
      ASSERT_EQ(mkfifo((storeRoot() / name).c_str(), 0644), 0) << name;
    };
  };
  auto installedFrenchWith = [&](std::function<void()> damage) {
    return [&, damage] {
      ASSERT_EQ(tool({"install", "--locale", "fr-FR"}).status, 0);
      fs::remove(storeRoot() / "models" / "fr_FR" / "manifest.json");
      damage();
    };
  };
  struct Case {
    std::string name;
    std::function<void()> prepare;
    std::vector<std::string> args;
    std::string linkRemoved;  // the store path whose link the run removes and logs
  };
  const std::vector<Case> cases{
      {"staging is a link to the user's files", linkTo("staging", user), {"probe"}, "staging"},
      {"models is a link to the user's files", linkTo("models", user), {"install", "--locale", "fr-FR"}, "models"},
      {"locks is a link to the user's files", linkTo("locks", user), {"install", "--locale", "fr-FR"}, "locks"},
      {"dangling reservations temp file",
       linkTo("reservations.json.tmp", outsideFile),
       {"install", "--locale", "fr-FR"},
       ""},
      {"dangling reservations lock", linkTo("reservations.lock", outsideFile), {"install", "--locale", "fr-FR"}, ""},
      {"dangling locale lock", linkTo("locks/fr_FR.lock", outsideFile), {"install", "--locale", "fr-FR"}, ""},
      {"reservations file is a FIFO, probe", fifo("reservations.json"), {"probe"}, ""},
      {"reservations file is a FIFO, install", fifo("reservations.json"), {"install", "--locale", "fr-FR"}, ""},
      {"manifest is a FIFO, probe", installedFrenchWith(fifo("models/fr_FR/manifest.json")), {"probe"}, ""},
      {"manifest is a FIFO, install",
       installedFrenchWith(fifo("models/fr_FR/manifest.json")),
       {"install", "--locale", "fr-FR"},
       ""},
      {"manifest is a FIFO, release",
       installedFrenchWith(fifo("models/fr_FR/manifest.json")),
       {"release", "--locale", "fr-FR"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dataHome());
    fs::remove_all(user);
    fs::remove_all(outsideFile.parent_path());
    fs::create_directories(user / "keep");
    std::ofstream(user / "notes.txt") << "the user's own notes";
    std::ofstream(user / "keep" / "photo.jpg") << "a photo";
    fs::create_directories(outsideFile.parent_path());
    c.prepare();
    auto outside = snapshot(temp.path(), storeRoot());
    tolva::test::ToolOptions options;
    options.env["HOME"] = (temp.path() / "user-home").string();
    options.timeoutSeconds = 30;  // a run blocked on a FIFO is killed, and fails below
    ToolRun run = tolva::test::runTool(TOLVA_BINARY, c.args, options);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(snapshot(temp.path(), storeRoot()), outside) << "a file outside the store changed";
    EXPECT_FALSE(fs::exists(outsideFile));
    if (!c.linkRemoved.empty()) {
      std::string path = "\"path\":\"" + (storeRoot() / c.linkRemoved).string() + "\"";
      for (std::size_t at = 0; (at = path.find('/', at)) != std::string::npos; at += 2) path.insert(at, "\\");
      auto logged = tolva::test::lines(run.err);
      EXPECT_TRUE(std::any_of(logged.begin(), logged.end(), [&](const std::string& line) {
        return line.find("\"store.linkRemoved\"") != std::string::npos && line.find(path) != std::string::npos;
      })) << run.err;
      EXPECT_FALSE(fs::is_symlink(storeRoot() / c.linkRemoved));
    }
    bool fifoLeft = fs::is_fifo(storeRoot() / "reservations.json") ||
                    fs::is_fifo(storeRoot() / "models" / "fr_FR" / "manifest.json");
    if (!fifoLeft) expectValidStore(readStoreState(storeRoot()));  // reading a FIFO here would block the test
  }
}

TEST_F(StoreBadStates, FullDiskFailsWithTheSystemsReasonAndKeepsTheStoreConsistent) {
  SmallTmpfs disk(storeRoot(), "16m");  // room for one model: 4 MB archive, 7 MB unpacked
  if (!disk.error().empty()) GTEST_SKIP() << "cannot mount a small tmpfs for the store here: " << disk.error();
  ASSERT_EQ(tool({"install", "--locale", "fr-FR"}).status, 0);
  writeReservations(R"({"reserved":["fr-FR","de-DE"]})");
  auto outside = snapshot(temp.path(), storeRoot());
  disk.fill();

  expectFailureSaying(
      tool({"release", "--locale", "fr-FR"}), "release-failed",
      "reservedAfter=2 error=cannot write " + storeRoot().string() + "/reservations.json.tmp: No space left on device");
  expectFailureSaying(tool({"install", "--locale", "de-DE"}), "install-failed", "No space left on device");
  StoreState state = readStoreState(storeRoot());
  expectValidStore(state);
  EXPECT_EQ(state.models, std::vector<std::string>{"fr_FR"}) << "a failed release keeps the model";
  EXPECT_EQ(state.reserved, (std::vector<std::string>{"fr_FR", "de_DE"}));
  EXPECT_TRUE(state.staging.empty()) << testing::PrintToString(state.staging);
  EXPECT_EQ(snapshot(temp.path(), storeRoot()), outside);

  disk.empty();
  ASSERT_EQ(tool({"release", "--locale", "fr-FR"}).status, 0);
  EXPECT_TRUE(readStoreState(storeRoot()).models.empty());
}

// A few kilobytes that unpack to 512 MiB are refused by what the archive
// declares, before anything is written: on a store of 16 MiB, the refusal
// comes before the disk is full.
TEST_F(StoreBadStates, ArchiveBombIsRefusedBeforeItFillsTheDisk) {
  SmallTmpfs disk(storeRoot(), "16m");
  if (!disk.error().empty()) std::cout << "no tmpfs (" << disk.error() << "): the bomb meets the real disk\n";
  fs::path bomb = temp.path() / "www" / "bomb.tar.zst";
  auto items = smallModelItems("model");
  items.insert(items.begin() + 3, ArchiveItem::zeros("model/acoustic/padding", std::int64_t{512} << 20));
  writeTarArchive(bomb, items, Compression::zstd);
  ASSERT_LT(fs::file_size(bomb), 1u << 20);
  writeCatalog("bomb.json", modelCatalogEntry("it-IT", fileUrl(bomb), static_cast<std::int64_t>(fs::file_size(bomb)),
                                              sha256Of(bomb)));

  expectFailureSaying(tool({"install", "--locale", "it-IT"}), "install-failed",
                      "entry 'model/acoustic/padding' was refused: the archive unpacks to more data than a model "
                      "can hold");
  StoreState state = readStoreState(storeRoot());
  expectValidStore(state);
  EXPECT_TRUE(state.models.empty());
  EXPECT_TRUE(state.staging.empty()) << testing::PrintToString(state.staging);
}

}  // namespace
}  // namespace tolva::store::test
