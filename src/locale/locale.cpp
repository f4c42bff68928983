#include "locale/locale.hpp"

#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace tolva {
namespace {

constexpr int capacity = ULOC_FULLNAME_CAPACITY + 64;

// The ICU identifier of a tag or identifier written with '-' or '_'.
std::string icuIdentifier(std::string_view id) {
  std::string tag(id);
  std::replace(tag.begin(), tag.end(), '_', '-');
  char buffer[capacity];
  int32_t parsed = 0;
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = uloc_forLanguageTag(tag.c_str(), buffer, capacity, &parsed, &status);
  if (U_SUCCESS(status) && parsed == static_cast<int32_t>(tag.size()) && length < capacity) {
    return std::string(buffer, static_cast<std::size_t>(length));
  }
  // Not a well-formed tag: let ICU canonicalise the text as an identifier.
  status = U_ZERO_ERROR;
  std::string raw(id);
  length = uloc_canonicalize(raw.c_str(), buffer, capacity, &status);
  if (U_FAILURE(status) || length >= capacity) return raw;
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string languageTag(const std::string& identifier) {
  char buffer[capacity];
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = uloc_toLanguageTag(identifier.c_str(), buffer, capacity, false, &status);
  if (U_FAILURE(status) || length >= capacity) return identifier;
  return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace

Locale::Locale(std::string_view id) : identifier_(icuIdentifier(id)), bcp47_(languageTag(identifier_)) {}

std::string Locale::sameLocaleKey() const { return lowercased(bcp47_); }

Locale Locale::maximized() const {
  char buffer[capacity];
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = uloc_addLikelySubtags(identifier_.c_str(), buffer, capacity, &status);
  if (U_FAILURE(status) || length >= capacity) return *this;
  return Locale(std::string_view(buffer, static_cast<std::size_t>(length)));
}

bool Locale::hasLanguage() const {
  char language[capacity];
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = uloc_getLanguage(identifier_.c_str(), language, capacity, &status);
  if (U_FAILURE(status) || length <= 0 || length >= capacity) return false;
  return std::string_view(language, static_cast<std::size_t>(length)) != "und";
}

bool sameLocale(const Locale& a, const Locale& b) { return a.sameLocaleKey() == b.sameLocaleKey(); }

std::string lowercased(std::string_view text) {
  icu::UnicodeString unicode =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  unicode.toLower(icu::Locale::getRoot());
  std::string out;
  unicode.toUTF8String(out);
  return out;
}

void prepareLocaleData() { icu::Locale::getRoot(); }

}  // namespace tolva
