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

void Type::RelateToType(Type* other, OneOrMany thisEnd, OneOrMany otherEnd, bool owner)
{
    if (relations.count(other))
        throw AlreadyRelatedException();
    relations[other] = RelationInfo{thisEnd, otherEnd, owner, false};
    other->relations[this] = RelationInfo{otherEnd, thisEnd, false, owner};
}

void Type::RelateToType(const std::string& other, OneOrMany thisEnd, OneOrMany otherEnd)
{
    RelateToType(data->GetType(other), thisEnd, otherEnd, false);
}

const RelationInfo* Type::FindRelation(Type* other) const
{
    auto found = relations.find(other);
    return found == relations.end() ? nullptr : &found->second;
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

void Type::Enter(Item* item)
{
    if (isNull)
        nullItems.Insert(item);
    else
        items.emplace(std::string_view(item->value.Bytes()), item);
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
    auto found = items.find(std::string_view(item->value.Bytes()));
    if (found == items.end() || found->second != item)
        return false;
    items.erase(found);
    return true;
}

Item* Type::Create(const Value& value)
{
    auto* item = new Item(this, value);
    Enter(item);
    Data::WalkGuard guard(*data);
    itemAdded.Notify(ItemPtr(item));
    data->itemAdded.Notify(ItemPtr(item));
    return item;
}

Item* Type::NewItem()
{
    CheckValueless();
    return Create(Value());
}

Item* Type::GetGlobalNullItem()
{
    CheckValueless();
    if (!nullItems.Empty())
        return static_cast<ItemPtr>(nullItems);
    return Create(Value());
}

Item* Type::NewItem(const Value& value)
{
    CheckValued();
    auto found = items.find(std::string_view(value.Bytes()));
    if (found != items.end())
        return found->second;
    return Create(value);
}

Item* Type::GetItem(const Value& value)
{
    CheckValued();
    auto found = items.find(std::string_view(value.Bytes()));
    if (found != items.end())
        return found->second;
    return autoCreate ? Create(value) : nullptr;
}

Item* Type::HasItem(const Value& value) const
{
    CheckValued();
    auto found = items.find(std::string_view(value.Bytes()));
    return found == items.end() ? nullptr : found->second;
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
    ordered.reserve(items.size());
    for (const auto& entry : items)
        ordered.push_back(entry.second);
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
    return isNull ? nullItems.Size() : items.size();
}

void Type::ReserveItems(size_t count)
{
    if (!isNull)
        items.reserve(items.size() + count);
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
    for (const auto& entry : items)
        ordered.push_back(entry.second);
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
