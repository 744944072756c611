#pragma once

#include <QString>

#include "ItemPtr.h"
#include "Value.h"

class Data;

// Settings are items: a `global` (saved) or `vglobal` (not saved) item keyed
// by the setting's name, connected to the one `global_value` item holding its
// text. Booleans are "yes" and "no"; a missing value reads as empty.
namespace Settings {
extern const char* const global;
extern const char* const runtime; // "vglobal"
extern const char* const value;   // "global_value"

// Declares the three types and their relations in the store, and registers
// the saved ones with the saver when there is one.
void DeclareTypes(Data& store);

// The value item of the key, or null. Never throws: before the types are
// declared every setting reads as missing.
ItemPtr Get(const char* key, const char* keyType = global);
QString GetText(const char* key, const char* keyType = global);
bool IsYes(const char* key, const char* keyType = global);
void Set(const char* key, const Value& text, const char* keyType = global);
void Clear(const char* key, const char* keyType = global);
} // namespace Settings
