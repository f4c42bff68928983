// Decoders loaded ahead of need: an analysis that starts while one loads waits
// for it instead of loading its own, and a warmed decoder leaves nothing
// behind in the session that gets it.

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "concurrency/notification.hpp"
#include "e2e/sphinx_test_engine.hpp"
#include "platform/sphinx/analysis/dictation_warm_up.hpp"

namespace tolva::sphinx {
namespace {

using namespace tolva::sphinx::testing;

store::ModelFiles englishModel() { return *TestModelStore().installedModel(Locale("en_US")); }

TEST(SphinxPreload, AnAcquireWhileAPreloadRunsTakesItsDecoder) {
  for (bool warmFails : {false, true}) {
    SCOPED_TRACE(warmFails ? "the warm-up fails" : "the warm-up succeeds");
    DecoderCache cache;
    Notification warming;
    Notification acquired;
    std::jthread preloader([&] {
      auto warm = [&](Decoder& decoder) {
        warming.notify();
        acquired.waitFor(300ms);  // the acquire below waits meanwhile
        warmUp(decoder);
        if (warmFails) throw PlatformError("warm-up failed");
      };
      if (warmFails) {
        EXPECT_THROW(cache.preload(englishModel(), DecoderKind::streaming, warm), PlatformError);
      } else {
        EXPECT_TRUE(cache.preload(englishModel(), DecoderKind::streaming, warm));
      }
    });
    ASSERT_TRUE(warming.wait());
    DecoderLease lease = cache.acquire(englishModel(), DecoderKind::streaming);
    acquired.notify();
    preloader.join();
    EXPECT_TRUE(lease);
    // After a failed warm-up the acquire loaded a decoder of its own.
    EXPECT_EQ(cache.decodersLoaded(), 1);
    lease = DecoderLease();
    EXPECT_FALSE(cache.preload(englishModel(), DecoderKind::streaming)) << "one is idle already";
    EXPECT_EQ(cache.decodersLoaded(), 1);
  }
}

TEST(SphinxPreload, APreparedDictationDecoderServesTheFirstSessionAsAFreshOneWould) {
  Engine fresh;
  Collected reference = dictate(fresh, clipPath(1));
  ASSERT_FALSE(reference.results.empty());

  auto cache = std::make_shared<DecoderCache>();
  {
    Engine preparing(1, cache);
    preparing.engine->prepareDictation(Locale("en_US"));
    preparing.engine->prepareDictation(Locale("de_DE"));  // not installed: nothing to load
  }                                                       // the engine waits for its preparations as it goes
  EXPECT_EQ(cache->decodersLoaded(), 1);
  Engine prepared(1, cache);
  Collected heard = dictate(prepared, clipPath(1));
  EXPECT_EQ(cache->decodersLoaded(), 1) << "the session took the warmed decoder";
  EXPECT_EQ(joinedText(heard.results), joinedText(reference.results));
  EXPECT_EQ(joinedText(heard.results, false), joinedText(reference.results, false));
}

}  // namespace
}  // namespace tolva::sphinx
