#include "DNetState.h"

#include "DNetTypes.h"
#include "Data.h"
#include "ServerTypes.h"

namespace DNetState {
ItemPtr Get(const char* key)
{
    Type* keys = d.HasType(DNetTypes::dnetGlobal);
    return keys ? ItemPtr(keys->HasItem(key))[DNetTypes::dnetValue] : ItemPtr();
}

bool Has(const char* key)
{
    return !Get(key).IsNull();
}

bool Holds(const char* key, const Value& value)
{
    ItemPtr item = Get(key);
    return !item.IsNull() && item.GetValue() == value;
}

QString Text(const char* key)
{
    return Get(key).AsString();
}

void Set(const char* key, const Value& value)
{
    ItemPtr(d.GetType(DNetTypes::dnetGlobal)->GetItem(key))
        .Connect(d.GetType(DNetTypes::dnetValue)->GetItem(value));
}

void Clear(const char* key)
{
    ItemPtr item = d.GetType(DNetTypes::dnetGlobal)->HasItem(key);
    if (!item.IsNull())
        item.Disconnect(DNetTypes::dnetValue);
}

ItemPtr User(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}
} // namespace DNetState
