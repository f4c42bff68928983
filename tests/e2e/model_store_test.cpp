// The model store's catalog, statuses and reservations, in-process against
// makeModelStore() over a temporary XDG data directory.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "e2e/model_store_test_support.hpp"
#include "platform/platform_error.hpp"

namespace tolva::store::test {
namespace {

const std::string zeros(64, '0');

// A catalog entry that is never downloaded in these tests.
std::string entryFor(const std::string& locale) {
  return modelCatalogEntry(locale, "https://models.invalid/" + locale + ".tar.gz", 1000, zeros);
}

std::vector<std::string> identifiers(const std::vector<Locale>& locales) {
  std::vector<std::string> ids;
  for (const Locale& locale : locales) ids.push_back(locale.identifier());
  return ids;
}

using ModelStoreTest = StoreTest;

TEST_F(ModelStoreTest, FreshStoreHasTheSystemEnglishModelAndWritesNothing) {
  auto store = makeModelStore();
  EXPECT_EQ(identifiers(store->supportedLocales()), std::vector<std::string>{"en_US"});
  EXPECT_EQ(identifiers(store->installedLocales()), std::vector<std::string>{"en_US"});
  EXPECT_EQ(store->status(modules({"en-US"})), AssetStatus::installed);
  EXPECT_EQ(store->status(modules({"de_DE"})), AssetStatus::unsupported);
  EXPECT_TRUE(store->reservedLocales().empty());
  EXPECT_EQ(store->maximumReservedLocales(), 5);

  auto model = store->installedModel(Locale("en_US"));
  ASSERT_TRUE(model);
  EXPECT_EQ(model->acousticModel, (systemModelDir / "en-us").string());
  EXPECT_EQ(model->languageModel, (systemModelDir / "en-us.lm.bin").string());
  EXPECT_EQ(model->dictionary, (systemModelDir / "cmudict-en-us.dict").string());
  EXPECT_FALSE(store->installedModel(Locale("de_DE")));

  EXPECT_EQ(store->assetInstallationRequest(modules({"en_US"})), nullptr);
  EXPECT_THROW(store->assetInstallationRequest(modules({"de_DE"})), PlatformError);
  EXPECT_FALSE(fs::exists(storeRoot())) << "queries must not create the store";
}

TEST_F(ModelStoreTest, EquivalentLocaleIsTheOneWithTheSameLikelySubtags) {
  struct Case {
    std::string request;
    bool germanInCatalog;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases{
      {"en", false, "en_US"},         {"en-US", false, "en_US"},     {"en_us", false, "en_US"},
      {"en-GB", false, std::nullopt}, {"de", false, std::nullopt},   {"de", true, "de_DE"},
      {"de-DE", true, "de_DE"},       {"de-Latn-DE", true, "de_DE"}, {"de-CH", true, std::nullopt},
      {"de-AT", true, std::nullopt},  {"fr", true, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request + (c.germanInCatalog ? " with de_DE" : " without de_DE"));
    fs::remove_all(dataHome());
    if (c.germanInCatalog) writeCatalog("de.json", entryFor("de-DE"));
    auto found = makeModelStore()->supportedLocale(Locale(c.request));
    EXPECT_EQ(found ? std::optional(found->identifier()) : std::nullopt, c.expected);
  }
}

TEST_F(ModelStoreTest, CatalogReadsEveryDataDirAndSkipsMalformedFiles) {
  writeCatalog("a.json", "[" + entryFor("fr-FR") + "," + entryFor("it_IT") + "]");
  writeCatalog("b.json", entryFor("de-DE"));
  writeCatalog("bad-json.json", "{\"locale\": \"es-ES\", ");
  writeCatalog("bad-missing-sha.json", R"({"locale":"es-ES","url":"https://x.invalid/a","size":1,)"
                                       R"("acousticModel":"a","languageModel":"b","dictionary":"c"})");
  writeCatalog("bad-one-of-two.json",
               "[" + entryFor("es-ES") + "," + modelCatalogEntry("nl-NL", "ftp://x.invalid/a", 1, zeros) + "]");
  writeCatalog("bad-path.json", modelCatalogEntry("nl-NL", "https://x.invalid/a", 1, zeros, "../outside"));
  writeCatalog("bad-size.json", modelCatalogEntry("nl-NL", "https://x.invalid/a", -5, zeros));
  writeCatalog("bad-size-huge.json", modelCatalogEntry("nl-NL", "file:///dev/zero", std::int64_t{1} << 62, zeros));
  writeCatalog("bad-size-over-8g.json",
               modelCatalogEntry("nl-NL", "https://x.invalid/a", (std::int64_t{8} << 30) + 1, zeros));
  writeCatalog("size-8g.json", modelCatalogEntry("sv-SE", "https://x.invalid/a", std::int64_t{8} << 30, zeros));
  writeCatalog("bad-top.json", "42");
  writeCatalog("bad-no-language.json", entryFor("und-FR"));
  writeCatalog("bad-no-language-2.json", entryFor("-deDE"));
  writeCatalog("not-a-catalog.txt", entryFor("nl-NL"));
  writeCatalog("z.json", "[" + entryFor("de_DE") + "," + entryFor("pt-PT") + "]", /*system=*/true);

  auto store = makeModelStore();
  EXPECT_EQ(identifiers(store->supportedLocales()),
            (std::vector<std::string>{"en_US", "fr_FR", "it_IT", "de_DE", "sv_SE", "pt_PT"}));
  EXPECT_EQ(identifiers(store->installedLocales()), std::vector<std::string>{"en_US"});
  EXPECT_EQ(store->status(modules({"pt_PT"})), AssetStatus::supported);
  EXPECT_EQ(store->status(modules({"es_ES"})), AssetStatus::unsupported);
  EXPECT_EQ(store->status(modules({"nl_NL"})), AssetStatus::unsupported);
}

TEST_F(ModelStoreTest, StatusOfModulesIsTheFirstThatIsNotInstalled) {
  writeCatalog("de.json", entryFor("de-DE"));
  struct Case {
    std::vector<std::string> locales;
    AssetStatus expected;
  };
  const std::vector<Case> cases{
      {{}, AssetStatus::installed},
      {{"en_US", "en-us"}, AssetStatus::installed},
      {{"en_US", "de_DE"}, AssetStatus::supported},
      {{"de_DE", "xx_XX"}, AssetStatus::supported},
      {{"xx_XX", "de_DE"}, AssetStatus::unsupported},
  };
  auto store = makeModelStore();
  for (const Case& c : cases) {
    EXPECT_EQ(store->status(modules(c.locales)), c.expected) << testing::PrintToString(c.locales);
  }
}

TEST_F(ModelStoreTest, ReserveAndReleaseReportWhetherTheyChangedAnythingAndPersist) {
  writeCatalog("de.json", entryFor("de-DE"));
  auto store = makeModelStore();
  EXPECT_TRUE(store->reserve(Locale("de-DE")));
  EXPECT_FALSE(store->reserve(Locale("DE_de"))) << "the same locale, written differently";
  EXPECT_TRUE(store->reserve(Locale("en_US")));
  EXPECT_THROW(store->reserve(Locale("xx_XX")), PlatformError) << "not in the catalog";

  auto reopened = makeModelStore();
  EXPECT_EQ(identifiers(reopened->reservedLocales()), (std::vector<std::string>{"de_DE", "en_US"}));
  EXPECT_TRUE(reopened->release(Locale("de-de")));
  EXPECT_FALSE(reopened->release(Locale("de-DE")));
  EXPECT_TRUE(reopened->release(Locale("en-US")));
  EXPECT_EQ(reopened->status(modules({"en_US"})), AssetStatus::installed) << "a system model stays";

  EXPECT_TRUE(makeModelStore()->reservedLocales().empty());
  EXPECT_EQ(readFile(storeRoot() / "reservations.json"), "{\"reserved\":[]}\n");
  EXPECT_FALSE(fs::exists(storeRoot() / "reservations.json.tmp"));
}

TEST_F(ModelStoreTest, AllSlotsTakenThrowsUnlessTheLocaleIsInstalledAnyway) {
  const std::vector<std::string> locales{"de_DE", "fr_FR", "it_IT", "es_ES", "nl_NL", "pt_PT"};
  std::string catalog;
  for (const auto& locale : locales) catalog += (catalog.empty() ? "" : ",") + entryFor(locale);
  writeCatalog("all.json", "[" + catalog + "]");
  auto store = makeModelStore();
  for (std::size_t i = 0; i < 5; ++i) EXPECT_TRUE(store->reserve(Locale(locales[i])));

  try {
    store->reserve(Locale("pt_PT"));
    ADD_FAILURE() << "a sixth reservation was accepted";
  } catch (const PlatformError& error) {
    EXPECT_NE(std::string(error.what()).find("all 5 model reservation slots are taken"), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(store->reserve(Locale("en_US"))) << "installed system model: no slot needed, no error";
  EXPECT_EQ(store->reservedLocales().size(), 5u);

  EXPECT_TRUE(store->release(Locale("it_IT")));
  EXPECT_TRUE(store->reserve(Locale("pt_PT")));
  EXPECT_EQ(identifiers(store->reservedLocales()),
            (std::vector<std::string>{"de_DE", "fr_FR", "es_ES", "nl_NL", "pt_PT"}));
}

TEST_F(ModelStoreTest, ConcurrentReservationsLoseNoUpdateAndKeepTheLimit) {
  const std::vector<std::string> locales{"de_DE", "fr_FR", "it_IT", "es_ES", "nl_NL", "pt_PT"};
  std::string catalog;
  for (const auto& locale : locales) catalog += (catalog.empty() ? "" : ",") + entryFor(locale);
  writeCatalog("all.json", "[" + catalog + "]");
  std::atomic<int> added = 0;
  std::atomic<int> refused = 0;
  {
    std::vector<std::jthread> threads;
    for (const auto& locale : locales) {
      threads.emplace_back([&, locale] {
        auto store = makeModelStore();  // its own descriptors, like another process
        try {
          if (store->reserve(Locale(locale))) ++added;
        } catch (const PlatformError&) {
          ++refused;
        }
      });
    }
  }
  EXPECT_EQ(added, 5);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(makeModelStore()->reservedLocales().size(), 5u);
}

TEST_F(ModelStoreTest, UnwritableStoreAndDamagedReservationsFileAreReportedNotFatal) {
  writeCatalog("de.json", entryFor("de-DE"), /*system=*/true);
  fs::create_directories(dataHome());
  std::ofstream(storeRoot()) << "a file where the store should be";
  auto blocked = makeModelStore();
  try {
    blocked->reserve(Locale("de_DE"));
    ADD_FAILURE() << "reserve succeeded without a store";
  } catch (const PlatformError& error) {
    EXPECT_NE(std::string(error.what()).find(storeRoot().string()), std::string::npos) << error.what();
  }
  EXPECT_FALSE(blocked->release(Locale("de_DE")));

  fs::remove(storeRoot());
  fs::create_directories(storeRoot());
  std::ofstream(storeRoot() / "reservations.json") << "{\"reserved\": [1, \"de-DE\"";
  auto store = makeModelStore();
  EXPECT_TRUE(store->reservedLocales().empty());
  EXPECT_TRUE(store->reserve(Locale("de_DE")));
  EXPECT_EQ(identifiers(makeModelStore()->reservedLocales()), std::vector<std::string>{"de_DE"});
}

// Holds a locale's install lock the way a running install in another
// process does.
class HeldLock {
 public:
  explicit HeldLock(const fs::path& path) {
    fs::create_directories(path.parent_path());
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_EQ(flock(fd_, LOCK_EX), 0);
  }
  ~HeldLock() { close(fd_); }

 private:
  int fd_ = -1;
};

TEST_F(ModelStoreTest, LeftoversOfKilledRunsGoAndLiveInstallsStay) {
  writeCatalog("all.json", "[" + entryFor("de-DE") + "," + entryFor("fr-FR") + "]");
  fs::path dead = storeRoot() / "staging" / "de_DE.k1ll3d";
  fs::path live = storeRoot() / "staging" / "fr_FR.l1v3ly";
  for (const fs::path& dir : {dead, live}) {
    fs::create_directories(dir / "model" / "acoustic");
    std::ofstream(dir / "archive") << "part of a download";
  }
  std::ofstream(storeRoot() / "reservations.json.tmp") << "{\"reserved\":[\"de";
  HeldLock installing(storeRoot() / "locks" / "fr_FR.lock");

  auto store = makeModelStore();
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_FALSE(fs::exists(storeRoot() / "reservations.json.tmp"));
  EXPECT_TRUE(fs::exists(live / "archive")) << "the staging directory of a running install";
  EXPECT_EQ(store->status(modules({"fr_FR"})), AssetStatus::downloading);
  EXPECT_EQ(store->status(modules({"de_DE"})), AssetStatus::supported);
  EXPECT_TRUE(store->reservedLocales().empty());
}

}  // namespace
}  // namespace tolva::store::test
