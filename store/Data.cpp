#include "Data.h"

#include <algorithm>

Data d;

Data::~Data()
{
    // The pair handlers this store registered for paths are owned by its tables.
    handlers.clear();
    for (PathNodeHandlerInfo* registration : pathRegistrations)
    {
        delete registration->handler;
        delete registration->root;
        delete registration;
    }
    FreeDiscardedRegistrations();
    for (Item* item : buried)
        delete item;
    for (const auto& entry : types)
    {
        Type* type = entry.second;
        type->items.ForEach([](Item* item) { delete item; });
        type->nullItems.ForEach([](ItemPtr item) { delete item.Get(); });
    }
    for (const auto& entry : types)
        delete entry.second;
}

Type* Data::NewType(const std::string& name, Primacy primacy, bool isNull, bool autoCreate)
{
    if (types.count(name))
        throw TypeAlreadyExistsException();
    auto* type = new Type(this, name, primacy, isNull, autoCreate);
    types.emplace(name, type);
    return type;
}

Type* Data::GetType(const char* name) const
{
    Type* type = HasType(name);
    if (!type)
        throw TypeNotFoundException();
    return type;
}

Type* Data::HasType(const char* name) const
{
    auto found = types.find(name);
    return found == types.end() ? nullptr : found->second;
}

void Data::GetTypes(std::map<std::string, Type*>& into) const
{
    into.clear();
    into.insert(types.begin(), types.end());
}

void Data::GetTypeOwningTypes(Type* type, std::set<Type*>& owners) const
{
    for (const auto& relation : type->relations)
        if (relation.second.ownedBy)
            owners.insert(relation.first);
}

void Data::RemoveAllItems()
{
    for (const auto& entry : types)
        entry.second->RemoveAllItems();
}

void Data::Bury(Item* item)
{
    if (walkDepth > 0)
        buried.insert(item);
    else
        delete item;
}

void Data::FreeBuried()
{
    std::unordered_set<Item*> doomed;
    doomed.swap(buried);
    for (Item* item : doomed)
        delete item;
}

void Data::AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler)
{
    a->GetRelation(b);
    connectionHandlers[{a, b}].Add(handler);
}

void Data::AddDisconnectionEventHandler(Type* a, Type* b,
                                        EventHandlerBase<ConnectionInfo&>* handler)
{
    a->GetRelation(b);
    disconnectionHandlers[{a, b}].Add(handler);
}

void Data::Notify(PairHandlers& table, Item* from, Item* to)
{
    if (table.empty())
        return;
    auto found = table.find({from->type, to->type});
    if (found == table.end())
        return;
    ConnectionInfo info{from, to};
    found->second.Notify(info);
}

void Data::NotifyConnectionEventHandlers(Item* x, Item* y)
{
    Notify(connectionHandlers, x, y);
    Notify(connectionHandlers, y, x);
}

void Data::NotifyDisconnectionEventHandlers(Item* x, Item* y)
{
    Notify(disconnectionHandlers, x, y);
    Notify(disconnectionHandlers, y, x);
}

// Lookups of connected items --------------------------------------------------

ItemSet Data::GetItems(const ItemSet& set, const char* type) const
{
    return set.GetItems(type);
}

ItemSet Data::GetItemSubset(const ItemSet& set, const char* typeName) const
{
    Type* type = GetType(typeName);
    // Members by ascending number of partners of the type; ties keep identity order.
    std::vector<const ItemSet*> byCount;
    bool anyMissing = false;
    set.ForEach([&](ItemPtr member) {
        const ItemSet* partners = member->connections.ItemsOf(type);
        anyMissing = anyMissing || !partners;
        if (partners)
            byCount.push_back(partners);
    });
    if (anyMissing || byCount.empty())
        return ItemSet();
    std::stable_sort(byCount.begin(), byCount.end(), [](const ItemSet* left, const ItemSet* right) {
        return left->Size() < right->Size();
    });
    ItemSet candidates = *byCount.front();
    for (size_t index = 1; index < byCount.size(); ++index)
    {
        const ItemSet walked = candidates;
        walked.ForEach([&](ItemPtr candidate) {
            if (!byCount[index]->Contains(candidate))
                candidates.Erase(candidate);
        });
        if (candidates.Empty())
            break;
    }
    return candidates;
}

ItemSet Data::GetItems(ItemPtr a, ItemPtr b, const char* type) const
{
    ItemSet both(a);
    both.Insert(b);
    return GetItemSubset(both, type);
}

ItemPtr Data::GetItem(const ItemSet& set, const char* type) const
{
    return GetItemSubset(set, type);
}

ItemPtr Data::GetItem(ItemPtr a, ItemPtr b, const char* type) const
{
    return GetItems(a, b, type);
}

// Global lookups ---------------------------------------------------------------

ItemSet g(const char* type)
{
    return d.GetType(type)->GetItems();
}

ItemSet i(const char* type, const Value& value)
{
    Item* item = d.GetType(type)->HasItem(value);
    return item ? ItemSet(item) : ItemSet();
}
