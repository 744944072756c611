// Clean-up of the store: removing unreachable and orphaned items, and renewing
// the store's containers.

#include "Data.h"

#include <algorithm>

void Data::RemoveDisconnectedItems()
{
    WalkGuard guard(*this);
    // Orphans are judged on the store as it was before anything is removed.
    std::vector<Item*> orphans;
    for (const auto& entry : types)
    {
        Type* type = entry.second;
        std::set<Type*> owners;
        GetTypeOwningTypes(type, owners);
        for (Item* item : type->GetItemsInValueOrder())
        {
            const bool owned = std::all_of(owners.begin(), owners.end(), [item](Type* owner) {
                return item->IsConnected(owner);
            });
            if (owned)
                candidates.Insert(item);
            else
                orphans.push_back(item);
        }
    }
    std::sort(orphans.begin(), orphans.end(), std::less<Item*>());
    for (Item* orphan : orphans)
        if (IsAlive(orphan))
            orphan->Remove();

    for (const auto& entry : types)
        if (entry.second->primacy == PrimacyRoot)
            for (Item* root : entry.second->GetItemsInValueOrder())
                MarkItemConnections(root);

    const ItemSet unreachable = std::move(candidates);
    candidates.Clear();
    unreachable.ForEach([this](ItemPtr item) {
        if (IsAlive(item))
            item.Remove();
    });
}

void Data::MarkItemConnections(Item* item)
{
    // A loop rather than recursion: a long chain of items must not exhaust the stack.
    std::vector<Item*> pending{item};
    while (!pending.empty())
    {
        Item* reached = pending.back();
        pending.pop_back();
        if (!candidates.Contains(reached))
            continue;
        candidates.Erase(reached);
        if (reached->type->primacy == PrimacyLeaf)
            continue;
        for (const TypeItemsMap::Entry& partners : reached->connections)
            if (partners.type->primacy != PrimacyRoot)
                partners.items.ForEach([&pending](ItemPtr partner) { pending.push_back(partner); });
    }
}

void Data::Renew()
{
    for (const auto& entry : types)
    {
        Type* type = entry.second;
        for (Item* item : type->GetItemsInValueOrder())
            item->connections = TypeItemsMap(item->connections);
        type->items.Renew();
        type->nullItems = ItemSet(type->nullItems);
    }
}
