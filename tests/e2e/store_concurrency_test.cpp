// The shipped binary's install and release running at the same time, in
// several processes, against a store served over loopback.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "e2e/model_store_test_support.hpp"
#include "e2e/store_check.hpp"
#include "support/documents.hpp"

namespace tolva::store::test {
namespace {

using nlohmann::json;
using tolva::test::ToolRun;

using StoreConcurrency = StoreTest;

// A release while the install of the same locale downloads: the release
// answers at once, and the install, finding its slot gone, throws its work
// away instead of leaving a model no reservation accounts for.
TEST_F(StoreConcurrency, ReleaseDuringAnInstallLeavesNoModelBehind) {
  fs::path archive = temp.path() / "www" / "fr.tar.gz";
  fs::create_directories(archive.parent_path());
  writeTarArchive(archive, tinyModelItems("model"));
  fs::path gate = temp.path() / "go-on";
  LoopbackHttpServer server(archive.parent_path(), temp.path() / "http.log", 0, gate);
  ASSERT_TRUE(server.running());
  writeCatalog("fr.json", modelCatalogEntry("fr-FR", server.url("fr.tar.gz"),
                                            static_cast<std::int64_t>(fs::file_size(archive)), sha256Of(archive)));

  auto install = std::async(std::launch::async, [] { return runShipped({"install", "--locale", "fr-FR"}); });
  // The install downloads after taking its slot: it is reserved now, and
  // the server holds back the second half of the archive.
  ASSERT_TRUE(waitForDownloadUnderWay(storeRoot()));

  ToolRun release = runShipped({"release", "--locale", "fr-FR"});
  ASSERT_EQ(release.status, 0) << release.err;
  EXPECT_EQ(json::parse(release.out)["reservedAfter"], json::array());

  std::ofstream(gate).flush();
  ToolRun installed = install.get();
  EXPECT_EQ(installed.status, 1) << installed.out;
  json document = json::parse(installed.out);
  EXPECT_EQ(document["error"], "install-failed");
  EXPECT_NE(document.value("detail", "").find("fr_FR was released during its install"), std::string::npos)
      << installed.out;

  StoreState state = readStoreState(storeRoot());
  EXPECT_TRUE(state.reserved.empty());
  EXPECT_TRUE(state.models.empty());
  EXPECT_TRUE(fs::is_empty(storeRoot() / "staging"));
  expectFailure(runShipped({"release", "--locale", "fr-FR"}), "locale-not-reserved",
                "fr_FR holds no reservation on this machine", "reserved=0 maximum=5");
}

struct Operation {
  std::vector<std::string> args;
  ToolRun run;
  std::chrono::steady_clock::time_point start, end;

  bool install() const { return args[0] == "install"; }
  const std::string& locale() const { return args[2]; }
  std::string error() const { return json::parse(run.out, nullptr, false).value("error", ""); }
};

// Whether an install of the release's locale ran meanwhile and got as far
// as its reservation, taking the slot the release had just freed.
bool reservedAgainMeanwhile(const Operation& release, const std::vector<Operation>& all) {
  return std::any_of(all.begin(), all.end(), [&](const Operation& op) {
    std::string error = op.error();
    return op.install() && op.locale() == release.locale() && op.start < release.end && release.start < op.end &&
           error != "locale-reservation-full" && error != "reserve-failed";
  });
}

// What a run may answer when others install and release at the same time.
// A release fails only when its locale was reserved again before it looked.
void expectAcceptableOutcome(const Operation& op, const std::vector<Operation>& all) {
  SCOPED_TRACE(testing::PrintToString(op.args));
  json document = json::parse(op.run.out, nullptr, false);
  ASSERT_TRUE(document.is_object()) << op.run.out;
  if (op.run.status == 0) {
    EXPECT_LE(op.install() ? document["reservedCount"].get<std::size_t>() : document["reservedAfter"].size(), 5u);
    return;
  }
  ASSERT_EQ(op.run.status, 1) << op.run.err;
  std::string code = document["error"];
  std::string detail = document.value("detail", "");
  if (!op.install() && code == "release-failed") {
    EXPECT_TRUE(detail.starts_with("accepted=true ") && reservedAgainMeanwhile(op, all)) << op.run.out;
  } else if (!op.install()) {
    EXPECT_EQ(code, "locale-not-reserved") << op.run.out;
  } else if (code == "reserve-failed") {
    // The slots filled between the command's own check and its reservation.
    EXPECT_NE(detail.find("all 5 model reservation slots are taken"), std::string::npos) << detail;
  } else if (code == "install-failed") {
    EXPECT_NE(detail.find("was released during its install"), std::string::npos) << detail;
  } else {
    EXPECT_EQ(code, "locale-reservation-full") << op.run.out;
  }
}

// Samples the store under its reservations lock, where reservations and
// models form one picture, until stopped.
class StoreMonitor {
 public:
  explicit StoreMonitor(fs::path root)
      : thread_([this, root](std::stop_token stop) {
          while (!stop.stop_requested()) {
            StoreState state;
            {
              ReservationsLock lock(root);
              state = readStoreState(root);
            }
            record(state);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        }) {}

  // The worst sample: most reservations, and every model seen unreserved.
  std::size_t mostReserved() {
    thread_.request_stop();
    thread_.join();
    return mostReserved_;
  }
  const std::vector<std::string>& unreservedModels() const { return unreservedModels_; }
  int samples() const { return samples_; }

 private:
  void record(const StoreState& state) {
    ++samples_;
    mostReserved_ = std::max(mostReserved_, state.reserved.size());
    for (const std::string& model : state.models) {
      if (std::find(state.reserved.begin(), state.reserved.end(), model) == state.reserved.end()) {
        unreservedModels_.push_back(model);
      }
    }
  }

  std::size_t mostReserved_ = 0;
  std::vector<std::string> unreservedModels_;
  int samples_ = 0;
  std::jthread thread_;
};

// Eight processes install and release seven locales at random; downloads
// trickle, so that installs, releases and reservations overlap.
TEST_F(StoreConcurrency, EightProcessesNeverHoldMoreThanFiveSlotsAndLeaveAValidStore) {
  const std::vector<std::string> locales{"de-DE", "fr-FR", "it-IT", "es-ES", "nl-NL", "pt-PT", "sv-SE"};
  fs::path www = temp.path() / "www";
  fs::create_directories(www);
  std::string catalog;
  LoopbackHttpServer server(www, temp.path() / "http.log", 2 << 20);  // a model archive in 2 s
  ASSERT_TRUE(server.running());
  for (const std::string& locale : locales) {
    fs::path archive = www / (locale + ".tar.gz");
    writeTarArchive(archive, tinyModelItems("model"));
    catalog += (catalog.empty() ? "[" : ",") + modelCatalogEntry(locale, server.url(archive.filename().string()),
                                                                 static_cast<std::int64_t>(fs::file_size(archive)),
                                                                 sha256Of(archive));
  }
  writeCatalog("all.json", catalog + "]");

  constexpr int workers = 8;
  constexpr int operationsEach = 10;
  std::vector<std::vector<Operation>> done(workers);
  StoreMonitor monitor(storeRoot());
  {
    std::vector<std::jthread> threads;
    for (int worker = 0; worker < workers; ++worker) {
      threads.emplace_back([&, worker] {
        std::mt19937 random(1234u + static_cast<unsigned>(worker));
        for (int i = 0; i < operationsEach; ++i) {
          std::string command = random() % 2 ? "install" : "release";
          Operation op{{command, "--locale", locales[random() % locales.size()]}, {}, {}, {}};
          op.start = std::chrono::steady_clock::now();
          op.run = runShipped(op.args);
          op.end = std::chrono::steady_clock::now();
          done[worker].push_back(op);
        }
      });
    }
  }
  EXPECT_LE(monitor.mostReserved(), 5u);
  EXPECT_TRUE(monitor.unreservedModels().empty()) << testing::PrintToString(monitor.unreservedModels());

  std::vector<Operation> all;
  for (const auto& operations : done) all.insert(all.end(), operations.begin(), operations.end());
  std::map<std::string, int> outcomes;
  for (const Operation& op : all) {
    expectAcceptableOutcome(op, all);
    outcomes[op.args[0] + " " + (op.run.status == 0 ? "ok" : op.error())]++;
  }
  std::cout << "store samples " << monitor.samples() << ", outcomes " << testing::PrintToString(outcomes) << "\n";

  ASSERT_EQ(runShipped({"probe"}).status, 0);  // the next run, clearing what is left
  StoreState state = readStoreState(storeRoot());
  expectValidStore(state);
  EXPECT_TRUE(state.staging.empty()) << testing::PrintToString(state.staging);
}

}  // namespace
}  // namespace tolva::store::test
