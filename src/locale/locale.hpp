#pragma once
// Locale: a locale value with its two identifier forms, computed through ICU.
//   identifier: the platform form, underscores between subtags (de_DE);
//   bcp47:      the hyphenated BCP-47 tag (de-DE).
// de-DE, de_de and DE-DE all give the identifier de_DE. Two locales are the
// same locale when their lowercased BCP-47 tags are equal (sameLocaleKey).

#include <string>
#include <string_view>

namespace tolva {

class Locale {
 public:
  Locale() = default;
  explicit Locale(std::string_view id);

  const std::string& identifier() const { return identifier_; }
  const std::string& bcp47() const { return bcp47_; }

  // The lowercased BCP-47 tag: the key under which two locales are the same.
  std::string sameLocaleKey() const;

  // The locale with likely subtags added (ICU): de -> de_Latn_DE.
  Locale maximized() const;

  // False for "", "und" and "und-US": ICU would guess English for those.
  bool hasLanguage() const;

  bool operator==(const Locale& other) const { return identifier_ == other.identifier_; }

 private:
  std::string identifier_;
  std::string bcp47_;
};

bool sameLocale(const Locale& a, const Locale& b);

// ASCII and Unicode default lowercasing of UTF-8 text (ICU).
std::string lowercased(std::string_view text);

// Builds ICU's cache of common locales. ICU does it on first use behind
// atomics of its own, which ThreadSanitizer cannot see in an uninstrumented
// library; called once before any thread starts, the first use is never racy.
void prepareLocaleData();

}  // namespace tolva
