#include "ServerStore.h"

#include "Data.h"
#include "ServerTypes.h"

namespace ServerStore {
ItemPtr User(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}

ItemPtr Room(const QString& name)
{
    return d.GetType(ServerTypes::room)->GetItem(Value(name));
}

ItemPtr KnownUser(const QString& name)
{
    return d.GetType(ServerTypes::user)->HasItem(Value(name));
}

ItemPtr KnownRoom(const QString& name)
{
    return d.GetType(ServerTypes::room)->HasItem(Value(name));
}

void SetAttribute(ItemPtr item, const char* type, const Value& value)
{
    ItemPtr attribute = d.GetType(type)->GetItem(value);
    if (!attribute.IsNull())
        item.Connect(attribute);
}
} // namespace ServerStore
