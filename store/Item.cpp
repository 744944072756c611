#include "Item.h"

#include "Data.h"
#include "ItemPool.h"

// Every shared file, user and result is at least one item: keep an item within six 16-byte units.
static_assert(sizeof(void*) != 8 || sizeof(Item) <= 96, "an item grew past 96 bytes");

void* Item::operator new(std::size_t size)
{
    return ItemPool::Allocate(size);
}

void Item::operator delete(void* item) noexcept
{
    ItemPool::Free(item);
}

ItemPtr Item::HasItem(const char* typeName) const
{
    return HasItem(type->data->GetType(typeName));
}

ItemPtr Item::HasItem(Type* partnerType) const
{
    const ItemSet* partners = connections.ItemsOf(partnerType);
    return partners ? static_cast<ItemPtr>(*partners) : ItemPtr();
}

bool Item::IsConnected(Item* other) const
{
    const ItemSet* partners = connections.ItemsOf(other->type);
    if (!partners)
        return false;
    // Connections are mutual: look in the smaller of the two sets, since one end is often a hub.
    // An other end with no partner of this type at all answers without a search.
    const ItemSet* reverse = other->connections.ItemsOf(type);
    if (!reverse)
        return false;
    if (reverse->Size() < partners->Size())
        return reverse->Contains(const_cast<Item*>(this));
    return partners->Contains(other);
}

bool Item::IsConnected(Type* partnerType) const
{
    return connections.ItemsOf(partnerType) != nullptr;
}

void Item::Link(Item* other)
{
    connections[other->type].Insert(other);
}

void Item::Unlink(Item* other)
{
    auto entry = connections.Find(other->type);
    if (entry == connections.End())
        return;
    entry.Set()->Erase(other);
    if (entry.Set()->Empty())
        connections.Erase(other->type);
}

void Item::Connect(Item* other)
{
    const RelationInfo relation = type->GetRelation(other->type);
    const ItemSet* partners = connections.ItemsOf(other->type);
    if (partners && IsConnected(other))
        return;
    Data& store = *type->data;
    // A removed item that a walk still holds takes no new partners.
    if (!store.IsAlive(this) || !store.IsAlive(other))
        return;
    Data::WalkGuard guard(store);
    if (relation.otherEnd == One && partners)
    {
        Disconnect(static_cast<ItemPtr>(*partners));
        // The replaced partner's handlers may have changed the store meanwhile.
        if (!store.IsAlive(this) || !store.IsAlive(other) || IsConnected(other))
            return;
    }
    Link(other);
    if (relation.thisEnd == One)
    {
        ItemPtr previous = other->HasItem(type);
        if (!previous.IsNull() && previous.Get() != this)
        {
            other->Disconnect(previous);
            if (!store.IsAlive(this) || !store.IsAlive(other))
            {
                Unlink(other);
                return;
            }
            // A handler of that disconnection may have made this very connection already.
            const ItemSet* back = other->connections.ItemsOf(type);
            if (back && back->Contains(this))
                return;
        }
    }
    other->Link(this);

    type->connected.Notify(ConnectionInfo{this, other});
    other->type->connected.Notify(ConnectionInfo{other, this});
    store.NotifyConnectionEventHandlers(this, other);
}

void Item::Disconnect(Item* other)
{
    Data& store = *type->data;
    Data::WalkGuard guard(store);
    Unlink(other);
    other->Unlink(this);
    type->disconnected.Notify(ConnectionInfo{this, other});
    other->type->disconnected.Notify(ConnectionInfo{other, this});
    store.NotifyDisconnectionEventHandlers(this, other);
}

void Item::Disconnect(const char* typeName)
{
    Type* partnerType = type->data->GetType(typeName);
    const ItemSet* partners = connections.ItemsOf(partnerType);
    if (!partners)
        return;
    const ItemSet copy = *partners;
    Data& store = *type->data;
    Data::WalkGuard guard(store);
    copy.ForEach([&](ItemPtr partner) {
        if (store.IsAlive(partner))
            Disconnect(partner);
    });
}

Item* Item::NewItem(const char* typeName)
{
    Type* partnerType = type->data->GetType(typeName);
    const RelationInfo relation = type->GetRelation(partnerType);
    if (!partnerType->isNull)
        throw NullTypeException();
    if (relation.otherEnd == Many)
    {
        Item* created = partnerType->NewItem();
        Connect(created);
        return created;
    }
    ItemPtr existing = HasItem(partnerType);
    if (!existing.IsNull())
        return existing;
    Item* attached =
        relation.thisEnd == Many ? partnerType->GetGlobalNullItem() : partnerType->NewItem();
    Connect(attached);
    return attached;
}

void Item::Remove()
{
    Data& store = *type->data;
    // Not in its type's index: already removed, or being removed further up.
    if (!type->Leave(this))
        return;
    {
        Data::WalkGuard guard(store);
        type->itemRemoved.Notify(ItemPtr(this));
        store.itemRemoved.Notify(ItemPtr(this));
        // A disconnection handler may connect the item again; repeat until it is bare.
        while (!connections.Empty())
        {
            const TypeItemsMap partners = connections;
            for (const TypeItemsMap::Entry& entry : partners)
                entry.items.ForEach([&](ItemPtr partner) {
                    if (store.IsAlive(partner))
                        Disconnect(partner);
                    else
                        Unlink(partner);
                });
        }
    }
    // After the guard, so that the item is freed at once unless an outer walk runs.
    store.Bury(this);
}

void Item::GetItems(const char* typeName, ItemSet& into) const
{
    Type* partnerType = type->data->GetType(typeName);
    type->GetRelation(partnerType);
    const ItemSet* partners = connections.ItemsOf(partnerType);
    if (partners)
        into = *partners;
}

void Item::GetUniqueItemsFromOrTo(Path path, std::map<Item*, Path>& found, bool toSingle)
{
    path.push_back(type);
    found[this] = path;
    for (const TypeItemsMap::Entry& entry : connections)
    {
        const RelationInfo* relation = type->FindRelation(entry.type);
        if (!relation)
            continue;
        if (!toSingle)
        {
            if (relation->thisEnd != One)
                continue;
            entry.items.ForEach([&](ItemPtr partner) {
                if (!found.count(partner))
                    partner->GetUniqueItemsFromOrTo(path, found, toSingle);
            });
            continue;
        }
        if (relation->otherEnd != One)
            continue;
        ItemPtr partner = entry.items;
        if (!found.count(partner))
            partner->GetUniqueItemsFromOrTo(path, found, toSingle);
    }
}
