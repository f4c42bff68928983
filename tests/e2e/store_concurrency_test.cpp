// The shipped binary's install and release running at the same time, in
// several processes, against a store served over loopback.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "e2e/model_store_test_support.hpp"
#include "e2e/store_check.hpp"
#include "support/documents.hpp"

namespace tolva::store::test {
namespace {

using nlohmann::json;
using tolva::test::ToolRun;

ToolRun tool(const std::vector<std::string>& args) { return tolva::test::runTool(TOLVA_BINARY, args); }

using StoreConcurrency = StoreTest;

// A release while the install of the same locale downloads: the release
// answers at once, and the install, finding its slot gone, throws its work
// away instead of leaving a model no reservation accounts for.
TEST_F(StoreConcurrency, ReleaseDuringAnInstallLeavesNoModelBehind) {
  fs::path archive = temp.path() / "fr.tar.gz";
  writeTarArchive(archive, tinyModelItems("model"));
  fs::path fifo = temp.path() / "slow-archive";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  writeCatalog("fr.json", modelCatalogEntry("fr-FR", fileUrl(fifo), static_cast<std::int64_t>(fs::file_size(archive)),
                                            sha256Of(archive)));

  auto install = std::async(std::launch::async, [] { return tool({"install", "--locale", "fr-FR"}); });
  // The install opens the archive after taking its slot: it is reserved now.
  int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  std::string data = readFile(archive);
  std::size_t half = data.size() / 2;
  ASSERT_EQ(write(writer, data.data(), half), static_cast<ssize_t>(half));

  ToolRun release = tool({"release", "--locale", "fr-FR"});
  ASSERT_EQ(release.status, 0) << release.err;
  EXPECT_EQ(json::parse(release.out)["reservedAfter"], json::array());

  ASSERT_EQ(write(writer, data.data() + half, data.size() - half), static_cast<ssize_t>(data.size() - half));
  close(writer);
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
  expectFailure(tool({"release", "--locale", "fr-FR"}), "locale-not-reserved",
                "fr_FR holds no reservation on this machine", "reserved=0 maximum=5");
}

}  // namespace
}  // namespace tolva::store::test
