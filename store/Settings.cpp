#include "Settings.h"

#include "Data.h"
#include "DataSaver.h"

namespace Settings {
const char* const global = "global";
const char* const runtime = "vglobal";
const char* const value = "global_value";

void DeclareTypes(Data& store)
{
    Type* keys = store.NewType(global, PrimacyRoot, false, true);
    Type* runtimeKeys = store.NewType(runtime, PrimacyRoot, false, true);
    Type* values = store.NewType(value, PrimacyLeaf, false, true);
    keys->RelateToType(values, Many, One, false);
    runtimeKeys->RelateToType(values, Many, One, false);
    if (dataSaver)
    {
        dataSaver->AddSavedType(global);
        dataSaver->AddSavedByConnectionType(value, global);
    }
}

ItemPtr Get(const char* key, const char* keyType)
{
    Type* keys = d.HasType(keyType);
    if (!keys || !d.HasType(value))
        return ItemPtr();
    // Reading a setting must not create its key: "no key" and "no value" differ for some callers.
    return ItemPtr(keys->HasItem(key))[value];
}

QString GetText(const char* key, const char* keyType)
{
    return Get(key, keyType).AsString();
}

bool IsYes(const char* key, const char* keyType)
{
    return Get(key, keyType).AsStdString() == "yes";
}

void Set(const char* key, const Value& text, const char* keyType)
{
    ItemPtr(d.GetType(keyType)->GetItem(key)) += d.GetType(value)->GetItem(text);
}

void Clear(const char* key, const char* keyType)
{
    ItemPtr(d.GetType(keyType)->GetItem(key)).Disconnect(value);
}
} // namespace Settings
