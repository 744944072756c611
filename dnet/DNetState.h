#pragma once

#include <QString>

#include "ItemPtr.h"
#include "Value.h"

// The tree state: one `dnet_global` item per key, holding at most one `dnet_value`.
namespace DNetState {
// The value item of the key, or null; never creates the key.
ItemPtr Get(const char* key);
bool Has(const char* key);
// Whether the key holds exactly that value.
bool Holds(const char* key, const Value& value);
QString Text(const char* key);
void Set(const char* key, const Value& value);
void Clear(const char* key);
// The user item of the name, made when absent.
ItemPtr User(const QString& name);
} // namespace DNetState
