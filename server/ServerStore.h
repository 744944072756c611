#pragma once

#include <QString>

#include "ItemPtr.h"
#include "Value.h"

// The store idioms of the server's handlers and requests.
namespace ServerStore {
// The `user` or `room` item of that name, created when absent.
ItemPtr User(const QString& name);
ItemPtr Room(const QString& name);
// The same, or null: for messages that only take something away, since an item made for
// nothing would stay for the whole run.
ItemPtr KnownUser(const QString& name);
ItemPtr KnownRoom(const QString& name);
// Connects the item to the one of the type with the value; where the item may hold only one of
// that type, it replaces the old one. A type that does not create items on demand may give
// none, and then nothing is connected.
void SetAttribute(ItemPtr item, const char* type, const Value& value);
} // namespace ServerStore
