#include "Type.h"

#include <algorithm>
#include <functional>

#include "Data.h"
#include "Item.h"
#include "StoreExceptions.h"

Type::Type(Data* data, std::string name, Primacy primacy, bool isNull, bool autoCreate)
    : data(data), name(std::move(name)), primacy(primacy), isNull(isNull), autoCreate(autoCreate)
{}

Type::~Type() = default;

namespace {
void AddRelation(std::vector<std::pair<Type*, RelationInfo>>& relations, Type* other,
                 const RelationInfo& relation)
{
    const auto position =
        std::lower_bound(relations.begin(), relations.end(), other,
                         [](const std::pair<Type*, RelationInfo>& entry, Type* type) {
                             return std::less<Type*>()(entry.first, type);
                         });
    relations.insert(position, {other, relation});
}
} // namespace

void Type::RelateToType(Type* other, OneOrMany thisEnd, OneOrMany otherEnd, bool owner)
{
    if (FindRelation(other))
        throw AlreadyRelatedException();
    // A type related to itself keeps the view from the other end, as a map keyed by type would.
    if (other != this)
        AddRelation(relations, other, RelationInfo{thisEnd, otherEnd, owner, false});
    AddRelation(other->relations, this, RelationInfo{otherEnd, thisEnd, false, owner});
}

void Type::RelateToType(const std::string& other, OneOrMany thisEnd, OneOrMany otherEnd)
{
    RelateToType(data->GetType(other), thisEnd, otherEnd, false);
}

const RelationInfo* Type::FindRelation(Type* other) const
{
    for (const auto& entry : relations)
        if (entry.first == other)
            return &entry.second;
    return nullptr;
}

void Type::GetRelatedTypes(std::map<Type*, RelationInfo>& into) const
{
    into = std::map<Type*, RelationInfo>(relations.begin(), relations.end());
}

RelationInfo Type::GetRelation(Type* other) const
{
    const RelationInfo* relation = FindRelation(other);
    if (!relation)
        throw NotRelatedException();
    return *relation;
}

void Type::CheckValued() const
{
    if (isNull)
        throw NullTypeException();
}

void Type::CheckValueless() const
{
    if (!isNull)
        throw NullTypeException();
}

void Type::Enter(Item* item, uint64_t hash)
{
    if (isNull)
        nullItems.Insert(item);
    else
        items.Insert(item, hash);
}

bool Type::Leave(Item* item)
{
    if (isNull)
    {
        if (!nullItems.Contains(item))
            return false;
        nullItems.Erase(item);
        return true;
    }
    return items.Erase(item);
}

Item* Type::Create(const Value& value, uint64_t hash)
{
    auto* item = new Item(this, value);
    Enter(item, hash);
    Data::WalkGuard guard(*data);
    itemAdded.Notify(ItemPtr(item));
    data->itemAdded.Notify(ItemPtr(item));
    return item;
}

Item* Type::NewItem()
{
    CheckValueless();
    return Create(Value(), 0);
}

Item* Type::GetGlobalNullItem()
{
    CheckValueless();
    if (!nullItems.Empty())
        return static_cast<ItemPtr>(nullItems);
    return Create(Value(), 0);
}

Item* Type::NewItem(const Value& value)
{
    CheckValued();
    return NewItem(value, ValueIndex::Hash(value.Bytes()));
}

Item* Type::NewItem(const Value& value, uint64_t hash)
{
    CheckValued();
    if (Item* found = items.Find(value.Bytes(), hash))
        return found;
    return Create(value, hash);
}

Item* Type::GetItem(const Value& value)
{
    CheckValued();
    const uint64_t hash = ValueIndex::Hash(value.Bytes());
    if (Item* found = items.Find(value.Bytes(), hash))
        return found;
    return autoCreate ? Create(value, hash) : nullptr;
}

Item* Type::HasItem(const Value& value) const
{
    CheckValued();
    return items.Find(value.Bytes());
}

void Type::GetItems(ItemSet& into) const
{
    if (isNull)
    {
        into.Add(nullItems);
        return;
    }
    // Inserting in identity order appends to the set's last block every time.
    std::vector<Item*> ordered;
    ordered.reserve(items.Size());
    items.ForEach([&ordered](Item* item) { ordered.push_back(item); });
    std::sort(ordered.begin(), ordered.end(), std::less<Item*>());
    for (Item* item : ordered)
        into.Insert(item);
}

ItemSet Type::GetItems() const
{
    if (isNull)
        return nullItems;
    ItemSet all;
    GetItems(all);
    return all;
}

size_t Type::ItemCount() const
{
    return isNull ? nullItems.Size() : items.Size();
}

void Type::ReserveItems(size_t count)
{
    if (!isNull)
        items.Reserve(items.Size() + count);
}

std::vector<Item*> Type::GetItemsInValueOrder() const
{
    std::vector<Item*> ordered;
    ordered.reserve(ItemCount());
    if (isNull)
    {
        nullItems.ForEach([&ordered](ItemPtr item) { ordered.push_back(item); });
        return ordered;
    }
    items.ForEach([&ordered](Item* item) { ordered.push_back(item); });
    std::sort(ordered.begin(), ordered.end(),
              [](Item* left, Item* right) { return left->value < right->value; });
    return ordered;
}

void Type::RemoveAllItems()
{
    const std::vector<Item*> doomed = GetItemsInValueOrder();
    Data::WalkGuard guard(*data);
    for (Item* item : doomed)
        if (data->IsAlive(item))
            item->Remove();
}
