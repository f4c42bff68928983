#include "locale/locale.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "locale/graphemes.hpp"
#include "locale/resolve_locale.hpp"
#include "locale/speech_preset.hpp"
#include "locale/system_strings.hpp"
#include "locale/trim.hpp"
#include "platform/scripted/scripted_platform.hpp"

namespace tolva {
namespace {

TEST(Locale, IdentifiersTakeThePlatformAndBcp47Forms) {
  struct Case {
    const char* id;
    const char* identifier;
    const char* bcp47;
  };
  for (const auto& c :
       {Case{"de-DE", "de_DE", "de-DE"}, Case{"de_de", "de_DE", "de-DE"}, Case{"DE-DE", "de_DE", "de-DE"},
        Case{"zh-Hans-CN", "zh_Hans_CN", "zh-Hans-CN"}, Case{"de", "de", "de"}}) {
    Locale locale(c.id);
    EXPECT_EQ(locale.identifier(), c.identifier) << c.id;
    EXPECT_EQ(locale.bcp47(), c.bcp47) << c.id;
  }
  EXPECT_EQ(Locale("de").maximized().identifier(), "de_Latn_DE");
  EXPECT_TRUE(sameLocale(Locale("EN-us"), Locale("en_US")));
}

TEST(Locale, ALocaleWithoutALanguageHasNone) {
  for (const char* id : {"", "und", "und-US", "UND_us", "-US"}) EXPECT_FALSE(Locale(id).hasLanguage()) << id;
  for (const char* id : {"en", "de-DE", "zh_Hans_CN"}) EXPECT_TRUE(Locale(id).hasLanguage()) << id;
}

TEST(Locale, HasRegionSubtagCountsUserPerceivedCharacters) {
  struct Case {
    const char* id;
    bool expected;
  };
  for (const auto& c :
       {Case{"de-DE", true}, Case{"de_DE", true}, Case{"de", false}, Case{"", false}, Case{"de-", false},
        Case{"-DE", false}, Case{"d-DE", false}, Case{"de-D", false}, Case{"de--DE", true}, Case{"zh-Hans-CN", true},
        Case{"e\xCC\x81-DE", false},  // e + combining accent is one character
        Case{"\xC3\xA9\xC3\xA9-DE", true},
        // a hyphen with a combining accent or a joiner is no hyphen
        Case{"en-\xCC\x81US", false}, Case{"en-\xE2\x80\x8DUS", false}}) {
    EXPECT_EQ(hasRegionSubtag(c.id), c.expected) << c.id;
  }
}

TEST(ResolveLocale, MatchesOnLowercasedBcp47OrTheEnginesEquivalent) {
  scripted::Scenario scenario;
  scenario.supportedLocales = {"en_US", "de_DE"};
  scenario.equivalents = {{"en", "en_US"}, {"fr", "fr_FR"}};
  scripted::ScriptedPlatform platform(scenario);
  SpeechEngine& engine = platform.platform().speech;
  struct Case {
    const char* id;
    std::optional<std::string> expected;
  };
  for (const auto& c :
       {Case{"de-DE", "de_DE"}, Case{"de-de", "de_DE"}, Case{"DE-DE", "de_DE"}, Case{"de_DE", "de_DE"},
        Case{"xx-XX", std::nullopt}, Case{"de", std::nullopt}, Case{"en", "en_US"}, Case{"fr", std::nullopt}}) {
    auto resolved = resolveLocale(engine, c.id);
    EXPECT_EQ(resolved ? std::optional(resolved->identifier()) : std::nullopt, c.expected) << c.id;
  }
}

TEST(SpeechPreset, ConcurrentFirstUsesSeeOnePreset) {
  const TranscriberPreset* seen[2] = {nullptr, nullptr};
  {
    std::jthread a([&] { seen[0] = &SpeechPreset::dictation(); });
    std::jthread b([&] { seen[1] = &SpeechPreset::dictation(); });
  }
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_TRUE(SpeechPreset::dictation().volatileResults);
  EXPECT_TRUE(SpeechPreset::batch().alternatives);
}

TEST(SystemStrings, NamesTheProcessorAndTheSystem) {
  EXPECT_EQ(sysctlString("no.such.parameter"), "unknown");
  EXPECT_EQ(sysctlString("..etc.passwd"), "unknown");
  EXPECT_EQ(sysctlString("kernel.ostype"), "Linux");
  EXPECT_NE(sysctlString("machdep.cpu.brand_string"), "unknown");
  EXPECT_NE(osVersionString().find("; Linux "), std::string::npos);
}

TEST(Text, GraphemesAndTrimming) {
  EXPECT_EQ(graphemeCount("e\xCC\x81"
                          "a"),
            2u);
  EXPECT_EQ(graphemeCount("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"), 1u);  // thumbs up with a skin tone
  EXPECT_EQ(lastGraphemes("abe\xCC\x81", 2), "be\xCC\x81");
  EXPECT_EQ(lastGraphemes("ab", 5), "ab");
  EXPECT_EQ(trimWhitespaceAndNewlines(" \t\n Hallo Welt.\r\n\xC2\xA0"), "Hallo Welt.");
  EXPECT_EQ(trimWhitespaceAndNewlines(" \n "), "");
}

}  // namespace
}  // namespace tolva
