#include "platform/store/state/reservations.hpp"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "output/json_writer.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"
#include "platform/store/state/file_lock.hpp"
#include "platform/store/state/store_files.hpp"

namespace tolva::store {
namespace {

using nlohmann::json;

std::vector<Locale> parseReservations(const std::string& text) {
  json document = json::parse(text, nullptr, false);
  auto reserved = document.is_object() ? document.find("reserved") : document.end();
  if (document.is_discarded() || !document.is_object() || reserved == document.end() || !reserved->is_array()) {
    log("store.reservationsUnreadable", {{"error", "not a {\"reserved\":[...]} object"}});
    return {};
  }
  std::vector<Locale> locales;
  for (const json& item : *reserved) {
    if (!item.is_string()) continue;
    Locale locale(item.get<std::string>());
    if (!listsLocale(locales, locale) && isStoreIdentifier(locale.identifier())) locales.push_back(locale);
  }
  return locales;
}

std::string joinIdentifiers(const std::vector<Locale>& locales) {
  std::string text;
  for (const Locale& locale : locales) text += (text.empty() ? "" : ", ") + locale.identifier();
  return text;
}

auto findSame(std::vector<Locale>& locales, const Locale& locale) {
  return std::find_if(locales.begin(), locales.end(), [&](const Locale& known) { return sameLocale(known, locale); });
}

}  // namespace

bool listsLocale(const std::vector<Locale>& locales, const Locale& locale) {
  return std::any_of(locales.begin(), locales.end(), [&](const Locale& known) { return sameLocale(known, locale); });
}

std::vector<Locale> Reservations::list() const {
  auto text = readSmallFile(layout_.reservations());
  if (!text) return {};
  return parseReservations(*text);
}

bool Reservations::add(const Locale& locale, bool installedAnyway) {
  bool added = false;
  update([&](std::vector<Locale>& locales) {
    if (listsLocale(locales, locale)) return false;
    if (static_cast<std::int64_t>(locales.size()) >= maximum) {
      if (installedAnyway) return false;
      throw PlatformError("all " + std::to_string(maximum) + " model reservation slots are taken (" +
                          joinIdentifiers(locales) + "); release one before reserving " + locale.identifier());
    }
    locales.push_back(locale);
    return added = true;
  });
  return added;
}

bool Reservations::remove(const Locale& locale) {
  std::error_code missing;
  if (!std::filesystem::exists(layout_.reservations(), missing)) return false;
  bool removed = false;
  update([&](std::vector<Locale>& locales) {
    auto found = findSame(locales, locale);
    if (found == locales.end()) return false;
    locales.erase(found);
    return removed = true;
  });
  return removed;
}

void Reservations::update(const std::function<bool(std::vector<Locale>&)>& edit) {
  makeDirectories(layout_.root);
  FileLock lock = FileLock::acquire(layout_.reservationsLock());
  auto locales = list();
  if (edit(locales)) write(locales);
}

void Reservations::write(const std::vector<Locale>& locales) const {
  JsonArray tags;
  for (const Locale& locale : locales) tags.emplace_back(locale.bcp47());
  auto text = writeJsonCompact(JsonValue(JsonObject{{"reserved", JsonValue(std::move(tags))}}));
  replaceFile(layout_.reservations(), *text + "\n");
}

}  // namespace tolva::store
