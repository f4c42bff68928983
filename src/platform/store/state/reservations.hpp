#pragma once
// Reservations: the locales holding one of the store's reservation slots,
// kept in reservations.json as {"reserved":["de-DE","en-US"]} (BCP-47 tags in
// reservation order). Changes run under an exclusive flock on
// reservations.lock and replace the file atomically; readers take no lock,
// since they always see a whole file.

#include <cstdint>
#include <functional>
#include <vector>

#include "locale/locale.hpp"
#include "platform/store/state/store_layout.hpp"

namespace tolva::store {

class Reservations {
 public:
  static constexpr std::int64_t maximum = 5;

  explicit Reservations(StoreLayout layout) : layout_(std::move(layout)) {}

  // The reserved locales in reservation order. An unreadable file reads as
  // empty (logged); the next change replaces it.
  std::vector<Locale> list() const;

  // Adds the locale: true when added, false when it already held a slot, or
  // when all slots are taken and installedAnyway says the locale does not
  // need one to be usable. Throws PlatformError when all slots are taken or
  // the file cannot be written.
  bool add(const Locale& locale, bool installedAnyway);
  // Removes the locale: true when it held a slot. Throws PlatformError when
  // the file cannot be written.
  bool remove(const Locale& locale);

  // Runs edit on the reserved list under the lock, and writes the list when
  // edit returns true. What edit does to the store is thereby ordered with
  // every other change of the reservations. Throws what edit throws (nothing
  // is written then), or PlatformError when the file cannot be written.
  void update(const std::function<bool(std::vector<Locale>&)>& edit);

 private:
  void write(const std::vector<Locale>& locales) const;

  StoreLayout layout_;
};

// Whether a list holds the same locale (lowercased BCP-47 comparison).
bool listsLocale(const std::vector<Locale>& locales, const Locale& locale);

}  // namespace tolva::store
