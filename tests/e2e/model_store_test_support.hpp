#pragma once
// Helpers of the model store tests: a store in a fresh temporary XDG data
// directory, catalog files, model archives built at test time with
// libarchive, and a loopback HTTP server (python3 -m http.server).

#include <archive.h>
#include <archive_entry.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/speech.hpp"
#include "platform/sphinx/analysis/model_trial.hpp"
#include "platform/store/model_store.hpp"
#include "support/temp_dir.hpp"

extern char** environ;

namespace tolva::store::test {

namespace fs = std::filesystem;

inline const fs::path systemModelDir = "/usr/share/pocketsphinx/model/en-us";

// The store over the environment's directories, installing with the archive
// tools linked into the tests (the shipped binary loads them as a module) and
// trying models out in the shipped binary's helper.
inline std::unique_ptr<ModelStore> makeModelStore() {
  return store::makeModelStore([]() -> const ArchiveTools& { return linkedArchiveTools(); },
                               [](const ModelFiles& files) { sphinx::trialLoadModel(TOLVA_BINARY, files); });
}

// A transcriber module is all the store needs to see a locale.
class FakeTranscriber final : public SpeechTranscriber {
 public:
  explicit FakeTranscriber(std::string id) : locale_(id), results_(ResultChannel::make()) {}
  const Locale& locale() const override { return locale_; }
  const TranscriberPreset& preset() const override { return preset_; }
  std::shared_ptr<ResultChannel> results() override { return results_; }

 private:
  Locale locale_;
  TranscriberPreset preset_{"dictation", true, false, false};
  std::shared_ptr<ResultChannel> results_;
};

inline TranscriberModules modules(const std::vector<std::string>& ids) {
  TranscriberModules list;
  for (const auto& id : ids) list.push_back(std::make_shared<FakeTranscriber>(id));
  return list;
}

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

inline std::string sha256Of(const fs::path& path) {
  std::string data = readFile(path);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    static constexpr char digits[] = "0123456789abcdef";
    hex += digits[digest[i] >> 4];
    hex += digits[digest[i] & 15];
  }
  return hex;
}

// ---- archives ----

struct ArchiveItem {
  enum class Type { file, directory, symlink, hardlink, sparse, zeros };
  std::string name;
  std::string content;  // file data; for sparse, the data at the end of the file
  Type type = Type::file;
  std::string target;     // link target
  std::int64_t size = 0;  // sparse: apparent size; zeros: data size

  static ArchiveItem file(std::string name, std::string content) {
    return {std::move(name), std::move(content), Type::file, "", 0};
  }
  static ArchiveItem directory(std::string name) { return {std::move(name), "", Type::directory, "", 0}; }
  static ArchiveItem link(Type type, std::string name, std::string target) {
    return {std::move(name), "", type, std::move(target), 0};
  }
  // A file of `size` bytes that is one hole but for `tail` at its end.
  static ArchiveItem sparse(std::string name, std::int64_t size, std::string tail) {
    return {std::move(name), std::move(tail), Type::sparse, "", size};
  }
  // `size` zero bytes, written piece by piece: the stuff of archive bombs.
  static ArchiveItem zeros(std::string name, std::int64_t size) { return {std::move(name), "", Type::zeros, "", size}; }
};

enum class Compression { gzip, zstd };

inline void writeEntryData(archive* writer, const ArchiveItem& item) {
  if (item.type == ArchiveItem::Type::zeros) {
    const std::string piece(1 << 20, '\0');
    for (std::int64_t left = item.size; left > 0; left -= static_cast<std::int64_t>(piece.size())) {
      archive_write_data(writer, piece.data(), static_cast<std::size_t>(std::min<std::int64_t>(left, piece.size())));
    }
  } else if (!item.content.empty()) {
    archive_write_data(writer, item.content.data(), item.content.size());
  }
}

inline void writeTarArchive(const fs::path& out, const std::vector<ArchiveItem>& items,
                            Compression compression = Compression::gzip) {
  using Type = ArchiveItem::Type;
  archive* writer = archive_write_new();
  if (compression == Compression::zstd) {
    archive_write_add_filter_zstd(writer);
    archive_write_set_filter_option(writer, "zstd", "compression-level", "1");
  } else {
    archive_write_add_filter_gzip(writer);
    archive_write_set_filter_option(writer, "gzip", "compression-level", "1");
  }
  archive_write_set_format_pax_restricted(writer);
  ASSERT_EQ(archive_write_open_filename(writer, out.c_str()), ARCHIVE_OK);
  for (const ArchiveItem& item : items) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, item.name.c_str());
    bool directory = item.type == Type::directory;
    archive_entry_set_filetype(entry, directory ? AE_IFDIR : item.type == Type::symlink ? AE_IFLNK : AE_IFREG);
    archive_entry_set_perm(entry, directory ? 0755 : 0644);
    if (item.type == Type::symlink) archive_entry_set_symlink(entry, item.target.c_str());
    if (item.type == Type::hardlink) archive_entry_set_hardlink(entry, item.target.c_str());
    if (item.type == Type::file) archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size()));
    if (item.type == Type::zeros) archive_entry_set_size(entry, item.size);
    if (item.type == Type::sparse) {
      auto tail = static_cast<std::int64_t>(item.content.size());
      archive_entry_set_size(entry, item.size);
      archive_entry_sparse_add_entry(entry, item.size - tail, tail);
    }
    ASSERT_EQ(archive_write_header(writer, entry), ARCHIVE_OK) << item.name;
    writeEntryData(writer, item);
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
}

// Data that does not compress, so a cut archive is cut inside its data.
inline std::string noise(std::size_t size, unsigned seed) {
  std::string data(size, '\0');
  for (char& c : data) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return data;
}

// A model under root/ in the layout modelCatalogEntry names: the system
// en-us acoustic model, its phone language model and the dictionary.
inline std::vector<ArchiveItem> realModelItems(const std::string& root) {
  std::vector<ArchiveItem> items{ArchiveItem::directory(root + "/"), ArchiveItem::directory(root + "/acoustic/")};
  for (const auto& file : fs::directory_iterator(systemModelDir / "en-us")) {
    items.push_back(ArchiveItem::file(root + "/acoustic/" + file.path().filename().string(), readFile(file.path())));
  }
  items.push_back(ArchiveItem::file(root + "/lm.bin", readFile(systemModelDir / "en-us-phone.lm.bin")));
  items.push_back(ArchiveItem::file(root + "/dict", readFile(systemModelDir / "cmudict-en-us.dict")));
  return items;
}

// The same layout with small made-up files: enough for the store's checks
// of an archive's files, though no model loads from them.
inline std::vector<ArchiveItem> smallModelItems(const std::string& root) {
  std::vector<ArchiveItem> items;
  unsigned seed = 1;
  for (const char* name : {"mdef", "means", "variances", "transition_matrices"}) {
    items.push_back(ArchiveItem::file(root + "/acoustic/" + name, noise(16 * 1024, seed++)));
  }
  items.push_back(ArchiveItem::file(root + "/lm.bin", noise(32 * 1024, seed++)));
  items.push_back(ArchiveItem::file(root + "/dict", "hello HH AH L OW\n"));
  return items;
}

// A language model of one word in ARPA text, which the library reads under
// any file name.
inline std::string oneWordLanguageModel(const std::string& unigramCount = "3") {
  return "\\data\\\nngram 1=" + unigramCount + "\n\n\\1-grams:\n-0.4771 </s>\n-99 <s>\n-0.4771 hello\n\n\\end\\\n";
}

// The smallest model that loads (a model is installed only once it has):
// the system en-us acoustic model with a one-word dictionary and language
// model. About 4 MB as an archive, 7 MB unpacked.
inline std::vector<ArchiveItem> tinyModelItems(const std::string& root) {
  std::vector<ArchiveItem> items{ArchiveItem::directory(root + "/"), ArchiveItem::directory(root + "/acoustic/")};
  std::vector<fs::path> files;
  for (const auto& file : fs::directory_iterator(systemModelDir / "en-us")) files.push_back(file.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    items.push_back(ArchiveItem::file(root + "/acoustic/" + file.filename().string(), readFile(file)));
  }
  items.push_back(ArchiveItem::file(root + "/lm.bin", oneWordLanguageModel()));
  items.push_back(ArchiveItem::file(root + "/dict", "hello HH AH L OW\n"));
  return items;
}

inline std::string modelCatalogEntry(const std::string& locale, const std::string& url, std::int64_t size,
                                     const std::string& sha256, const std::string& root = "model") {
  return R"({"locale":")" + locale + R"(","url":")" + url + R"(","size":)" + std::to_string(size) + R"(,"sha256":")" +
         sha256 + R"(","acousticModel":")" + root + R"(/acoustic","languageModel":")" + root +
         R"(/lm.bin","dictionary":")" + root + R"(/dict"})";
}

inline std::string fileUrl(const fs::path& path) { return "file://" + path.string(); }

// ---- the store's environment ----

// Each test gets its own XDG_DATA_HOME and XDG_DATA_DIRS in a temporary
// directory; the previous values come back afterwards.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saveVariable("XDG_DATA_HOME", savedHome);
    saveVariable("XDG_DATA_DIRS", savedDirs);
    setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
    setenv("XDG_DATA_DIRS", systemData().c_str(), 1);
  }
  void TearDown() override {
    restoreVariable("XDG_DATA_HOME", savedHome);
    restoreVariable("XDG_DATA_DIRS", savedDirs);
  }

  fs::path dataHome() const { return temp.path() / "home"; }
  fs::path systemData() const { return temp.path() / "system"; }
  fs::path storeRoot() const { return dataHome() / "tolva-speech"; }

  // A catalog file in the user's (or the system's) catalog directory.
  void writeCatalog(const std::string& name, const std::string& json, bool system = false) const {
    fs::path dir = (system ? systemData() : dataHome()) / "tolva-speech" / "catalog.d";
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << json;
  }

  // Every path under the store root but the lock files, which stay by design.
  std::vector<std::string> storeContents() const {
    std::vector<std::string> paths;
    if (!fs::exists(storeRoot())) return paths;
    for (const auto& entry : fs::recursive_directory_iterator(storeRoot())) {
      if (entry.path().extension() == ".lock" || entry.path().filename() == "locks") continue;
      if (entry.is_directory() && fs::is_empty(entry.path())) continue;
      paths.push_back(fs::relative(entry.path(), storeRoot()).string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  tolva::test::TempDir temp;

 private:
  static void saveVariable(const char* name, std::optional<std::string>& saved) {
    const char* value = std::getenv(name);
    if (value) saved = value;
  }
  static void restoreVariable(const char* name, const std::optional<std::string>& saved) {
    if (saved) {
      setenv(name, saved->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  std::optional<std::string> savedHome;
  std::optional<std::string> savedDirs;
};

// ---- loopback HTTP server ----

inline int freeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

inline bool accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// python3's http.server, but sending each file in 1 KiB pieces at a given
// rate (0: at once), so that a download takes long enough to be interrupted;
// with a gate path, it stops halfway through a file until that path exists.
inline constexpr const char* throttledServerScript = R"(
import functools, http.server, os, sys, time
port, directory, rate = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
gate = sys.argv[4] if len(sys.argv) > 4 else ""
class Handler(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, destination):
        size, sent = os.fstat(source.fileno()).st_size, 0
        while data := source.read(1024):
            destination.write(data)
            destination.flush()
            sent += len(data)
            if rate > 0:
                time.sleep(len(data) / rate)
            while gate and sent >= size // 2 and not os.path.exists(gate):
                time.sleep(0.01)
handler = functools.partial(Handler, directory=directory)
http.server.ThreadingHTTPServer(("127.0.0.1", port), handler).serve_forever()
)";

// Serves a directory on 127.0.0.1 until the object goes; its request log
// counts the downloads. With bytesPerSecond, files trickle out at that rate;
// with a gate, each stops halfway until the gate path exists.
class LoopbackHttpServer {
 public:
  LoopbackHttpServer(const fs::path& dir, const fs::path& log, std::int64_t bytesPerSecond = 0,
                     const fs::path& gate = {})
      : port_(freeLoopbackPort()), log_(log) {
    std::string portText = std::to_string(port_);
    std::vector<std::string> args{"python3", "-m",        "http.server", portText,
                                  "--bind",  "127.0.0.1", "--directory", dir.string()};
    if (bytesPerSecond > 0 || !gate.empty()) {
      args = {"python3", "-c", throttledServerScript, portText, dir.string(), std::to_string(bytesPerSecond)};
      if (!gate.empty()) args.push_back(gate.string());
    }
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // Generous: python may start slowly on a loaded machine.
    for (int i = 0; i < 400 && pid_ > 0 && !accepts(port_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~LoopbackHttpServer() { stop(); }
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  bool running() const { return pid_ > 0 && accepts(port_); }
  std::string url(const std::string& name) const { return "http://127.0.0.1:" + std::to_string(port_) + "/" + name; }
  // Stops the server (flushing its log) and counts the GETs of a file.
  int downloadsOf(const std::string& name) {
    stop();
    std::istringstream lines(readFile(log_));
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.find("\"GET /" + name + " ") != std::string::npos) ++count;
    }
    return count;
  }

 private:
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid_ = -1;
  int port_;
  fs::path log_;
};

// Waits (a minute at most) until an install's staging directory holds the
// first bytes of its archive: its download is under way.
inline bool waitForDownloadUnderWay(const fs::path& storeRoot) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    std::error_code error;
    for (fs::directory_iterator it(storeRoot / "staging", error), end; !error && it != end; it.increment(error)) {
      std::error_code sizeError;
      if (fs::file_size(it->path() / "archive", sizeError) > 0 && !sizeError) return true;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace tolva::store::test
