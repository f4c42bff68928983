// Installs of the shipped binary ended by kill -9, SIGTERM, SIGINT or SIGHUP
// at moments spread over their whole run: download, verification, unpacking
// and the final rename. One-shot commands die by the default action of each
// signal; the store must not care when.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "e2e/model_store_test_support.hpp"
#include "e2e/store_check.hpp"
#include "support/documents.hpp"

namespace tolva::store::test {
namespace {

using tolva::test::ToolRun;
using Clock = std::chrono::steady_clock;

// Starts the binary with its output discarded and the termination signals at
// their default action, as a parent application would leave them.
pid_t spawnQuietly(const std::vector<std::string>& args) {
  std::vector<std::string> argv{TOLVA_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (auto& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, TOLVA_BINARY, &actions, &attributes, pointers.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

// Where the killed install was, judged by what it left behind.
std::string phaseLeft(const StoreState& state, const fs::path& root) {
  if (!state.models.empty()) return "installed";
  for (const std::string& entry : state.staging) {
    if (fs::exists(root / "staging" / entry / "model")) return "unpacking";
    if (fs::exists(root / "staging" / entry / "archive")) return "downloading";
  }
  return state.reserved.empty() ? "starting" : "reserved";
}

// Waits until an install's staging directory holds `name` (its download has
// begun: "archive"; its unpacking: "model"), or the process has ended.
void waitForStagingEntry(const fs::path& root, const std::string& name, pid_t pid) {
  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline && waitid(P_PID, pid, nullptr, WEXITED | WNOHANG | WNOWAIT) == 0) {
    std::error_code error;
    for (fs::directory_iterator it(root / "staging", error), end; !error && it != end; it.increment(error)) {
      if (fs::exists(it->path() / name, error)) return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// When a run sends its signal: at a moment of the whole install, during the
// download, or as unpacking begins (the rename follows within milliseconds).
enum class Aim { anyMoment, download, unpacking };

using StoreInterruption = StoreTest;

TEST_F(StoreInterruption, SignalledInstallsLeaveTheModelAbsentOrWholeAndTheNextRunClearsUp) {
  fs::path www = temp.path() / "www";
  fs::create_directories(www);
  fs::path archive = www / "fr.tar.gz";
  writeTarArchive(archive, tinyModelItems("model"));
  constexpr std::int64_t bytesPerSecond = 2 << 20;  // a model archive in 2 s
  LoopbackHttpServer server(www, temp.path() / "http.log", bytesPerSecond);
  auto downloadLength =
      std::chrono::microseconds(static_cast<std::int64_t>(fs::file_size(archive)) * 1000000 / bytesPerSecond);
  ASSERT_TRUE(server.running());
  writeCatalog("fr.json", modelCatalogEntry("fr-FR", server.url("fr.tar.gz"),
                                            static_cast<std::int64_t>(fs::file_size(archive)), sha256Of(archive)));

  // The length of a whole install, over which the signals are spread: the
  // shortest of a few, since the first one starts cold.
  auto length = Clock::duration::max();
  for (int i = 0; i < 3; ++i) {
    auto start = Clock::now();
    ToolRun whole = runShipped({"install", "--locale", "fr-FR"});
    length = std::min(length, Clock::now() - start);
    ASSERT_EQ(whole.status, 0) << whole.out;
    ASSERT_EQ(runShipped({"release", "--locale", "fr-FR"}).status, 0);
  }

  const std::vector<std::pair<int, int>> signalRuns{{SIGKILL, 30}, {SIGTERM, 6}, {SIGINT, 6}, {SIGHUP, 6}};
  std::mt19937 random(99);
  std::map<std::string, int> phases;
  for (auto [signal, runs] : signalRuns) {
    for (int run = 0; run < runs; ++run) {
      // One moment in each slice of the install's length, a little beyond it.
      double slice = (run + std::uniform_real_distribution<double>(0, 1)(random)) / runs;
      auto delay = std::chrono::duration_cast<std::chrono::microseconds>(length * 1.2 * slice);
      auto aim = static_cast<Aim>(run % 3);
      SCOPED_TRACE(std::string(strsignal(signal)) + " aim " + std::to_string(run % 3));
      pid_t pid = spawnQuietly({"install", "--locale", "fr-FR"});
      ASSERT_GT(pid, 0);
      if (aim == Aim::download) {
        waitForStagingEntry(storeRoot(), "archive", pid);
        delay = std::chrono::duration_cast<std::chrono::microseconds>(downloadLength * slice);
      } else if (aim == Aim::unpacking) {
        waitForStagingEntry(storeRoot(), "model", pid);
        delay = std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random));
      }
      std::this_thread::sleep_for(delay);
      kill(pid, signal);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      bool signalled = WIFSIGNALED(status) && WTERMSIG(status) == signal;
      EXPECT_TRUE(signalled || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "status " << status;

      StoreState left = readStoreState(storeRoot());
      phases[signalled ? phaseLeft(left, storeRoot()) : "finished"]++;
      EXPECT_TRUE(left.incomplete.empty()) << testing::PrintToString(left.incomplete);
      EXPECT_TRUE(left.models.empty() || left.models == std::vector<std::string>{"fr_FR"});
      expectValidStore(left);

      ASSERT_EQ(runShipped({"probe"}).status, 0);
      StoreState next = readStoreState(storeRoot());
      EXPECT_TRUE(next.staging.empty()) << testing::PrintToString(next.staging);
      EXPECT_FALSE(fs::exists(storeRoot() / "reservations.json.tmp"));
      EXPECT_EQ(next.models, left.models);
      // Back to an empty store for the next run.
      fs::remove_all(storeRoot() / "models");
      fs::remove(storeRoot() / "reservations.json");
    }
  }
  std::cout << "install length " << std::chrono::duration_cast<std::chrono::milliseconds>(length).count()
            << " ms; signalled runs by what they left: " << testing::PrintToString(phases) << "\n";
}

}  // namespace
}  // namespace tolva::store::test
