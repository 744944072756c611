#include "ServerStore.h"

#include "Data.h"
#include "ServerTypes.h"

namespace ServerStore {
ItemPtr User(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}

void SetAttribute(ItemPtr item, const char* type, const Value& value)
{
    ItemPtr attribute = d.GetType(type)->GetItem(value);
    if (!attribute.IsNull())
        item.Connect(attribute);
}
} // namespace ServerStore
