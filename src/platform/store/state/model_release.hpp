#pragma once
// Releasing a locale of the model store: its reservation slot and the
// store's copy of its model go together.
//
// Both change under the reservations lock, and the model leaves models/
// before the list without the locale is written. An install moves its model
// in under the same lock and only while the locale is reserved. So neither a
// kill at any point nor an install running meanwhile can leave a model
// installed without a reservation.

#include "locale/locale.hpp"
#include "platform/store/state/reservations.hpp"
#include "platform/store/state/store_layout.hpp"

namespace tolva::store {

// Removes the locale's reservation and deletes its model from the store:
// true when the locale held a slot. A running download of the locale is not
// waited for: it finds the slot gone and discards its work. Throws
// PlatformError when the store cannot be changed; the store is then as it
// was.
bool releaseStoreLocale(const StoreLayout& layout, Reservations& reservations, const Locale& locale);

}  // namespace tolva::store
