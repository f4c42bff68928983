// Live locale admission: the region test, normalisation, the supported-list
// match and the dictation asset status.
#include "live/session/live_locale_admission.hpp"

#include <gtest/gtest.h>

#include "platform/scripted/scripted_platform.hpp"
#include "support/listen_session.hpp"

namespace tolva {
namespace {

using scripted::Scenario;
using scripted::ScriptedPlatform;
using scripted::StatusScript;

Scenario admissionScenario() {
  Scenario scenario;
  scenario.supportedLocales = {"de_DE", "en_US", "fr_FR", "it_IT", "nl_NL"};
  scenario.status["de_DE"] = StatusScript{AssetStatus::installed, {}};
  scenario.status["fr_FR"] = StatusScript{AssetStatus::downloading, {}};
  scenario.status["it_IT"] = StatusScript{AssetStatus::other, {}};
  // Installed for files only: a live session needs the dictation assets.
  scenario.status["nl_NL"] = StatusScript{AssetStatus::supported, {{"batch", AssetStatus::installed}}};
  scenario.status["en_US"] = StatusScript{std::nullopt, {{"dictation", AssetStatus::installed}}};
  return scenario;
}

struct ResolveCase {
  std::string requested;
  std::variant<std::string, LocaleRejection> expected;  // identifier, or the rejection
};

class ResolveLiveLocale : public testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveLiveLocale, MatchesOrRejects) {
  ScriptedPlatform scripted(admissionScenario());
  auto resolved = resolveLiveLocale(scripted.platform().speech, GetParam().requested);
  if (const auto* id = std::get_if<std::string>(&GetParam().expected)) {
    ASSERT_TRUE(std::holds_alternative<Locale>(resolved)) << GetParam().requested;
    EXPECT_EQ(std::get<Locale>(resolved).identifier(), *id);
  } else {
    ASSERT_TRUE(std::holds_alternative<LocaleRejection>(resolved)) << GetParam().requested;
    EXPECT_EQ(std::get<LocaleRejection>(resolved), std::get<LocaleRejection>(GetParam().expected));
  }
}

using R = LocaleRejection;

INSTANTIATE_TEST_SUITE_P(Table, ResolveLiveLocale,
                         testing::Values(ResolveCase{"de-DE", "de_DE"}, ResolveCase{"de_DE", "de_DE"},
                                         ResolveCase{"DE-de", "de_DE"}, ResolveCase{" EN_us ", "en_US"},
                                         ResolveCase{"\ten-US\xC2\xA0", "en_US"},  // tab, no-break space
                                         ResolveCase{"de", R::notRegioned}, ResolveCase{"de-", R::notRegioned},
                                         ResolveCase{"de--DE", R::notRegioned}, ResolveCase{"d-DE", R::notRegioned},
                                         ResolveCase{"de-D", R::notRegioned}, ResolveCase{"", R::notRegioned},
                                         ResolveCase{"-DE", R::notRegioned}, ResolveCase{"xx-YY", R::unsupported},
                                         ResolveCase{"de-DE\n", R::unsupported},  // line breaks are not trimmed
                                         ResolveCase{"de-AT", R::unsupported}, ResolveCase{"en-US-x", R::unsupported}));

TEST(ResolveLiveLocale, AnEmptySupportedListMatchesNothing) {
  Scenario scenario;
  scenario.supportedLocales = {};
  ScriptedPlatform scripted(scenario);
  auto resolved = resolveLiveLocale(scripted.platform().speech, "de-DE");
  ASSERT_TRUE(std::holds_alternative<LocaleRejection>(resolved));
  EXPECT_EQ(std::get<LocaleRejection>(resolved), LocaleRejection::unsupported);
}

struct AdmitCase {
  std::string requested;
  std::string code;     // empty: admitted
  std::string message;  // or the admitted identifier
};

class AdmitLiveLocale : public testing::TestWithParam<AdmitCase> {};

TEST_P(AdmitLiveLocale, AdmitsOrEmitsExactlyOneError) {
  const AdmitCase& c = GetParam();
  ScriptedPlatform scripted(admissionScenario());
  test::CapturedEvents captured;
  auto admitted = admitLiveLocale(scripted.platform().speech, {c.requested, std::nullopt, 100, std::nullopt, std::nullopt}, *captured.emitter());
  auto events = captured.events();
  if (c.code.empty()) {
    ASSERT_TRUE(admitted.has_value());
    EXPECT_EQ(admitted->identifier(), c.message);
    EXPECT_TRUE(events.empty());
    return;
  }
  EXPECT_FALSE(admitted.has_value());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["code"], c.code);
  EXPECT_EQ(events[0]["message"], c.message);
  EXPECT_FALSE(events[0].contains("session"));
}

const std::string emptyTranscript = "' on this machine; a session would return an empty transcript with no error";
const std::string wrongModel =
    "' has no region subtag; a bare code resolves by system region and silently transcribes with the wrong model";

INSTANTIATE_TEST_SUITE_P(
    Table, AdmitLiveLocale,
    testing::Values(
        AdmitCase{"de-DE", "", "de_DE"}, AdmitCase{" EN_us ", "", "en_US"},
        AdmitCase{"de", "locale-not-regioned", "locale 'de" + wrongModel},
        AdmitCase{" de- ", "locale-not-regioned", "locale ' de- " + wrongModel},
        AdmitCase{" xx_YY ", "locale-unsupported",
                  "SpeechTranscriber has no model for ' xx_YY '; no download adds one"},
        AdmitCase{"fr-FR", "locale-not-installed", "assets for 'fr_FR' report 'downloading" + emptyTranscript},
        AdmitCase{"it-IT", "locale-not-installed", "assets for 'it_IT' report 'unknown" + emptyTranscript},
        AdmitCase{"NL-nl", "locale-not-installed", "assets for 'nl_NL' report 'supported" + emptyTranscript}));

}  // namespace
}  // namespace tolva
