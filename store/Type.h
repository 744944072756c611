#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ConnectionInfo.h"
#include "Event.h"
#include "ItemSet.h"
#include "RelationInfo.h"
#include "Value.h"
#include "ValueIndex.h"

class Data;
class Item;

// A named item type. Types are made by Data::NewType and live as long as the
// store.
class Type
{
public:
    Type(Data* data, std::string name, Primacy primacy, bool isNull, bool autoCreate);
    Type(const Type&) = delete;
    Type& operator=(const Type&) = delete;
    ~Type();

    void RelateToType(Type* other, OneOrMany thisEnd, OneOrMany otherEnd, bool owner);
    void RelateToType(const std::string& other, OneOrMany thisEnd, OneOrMany otherEnd);
    RelationInfo GetRelation(Type* other) const;
    // The relation, or null when the types are not related; never throws.
    const RelationInfo* FindRelation(Type* other) const;
    void GetRelatedTypes(std::map<Type*, RelationInfo>& into) const;

    Item* NewItem();
    Item* GetGlobalNullItem();
    Item* NewItem(const Value& value);
    // The same, with the value's hash (ValueIndex::Hash) already known, as a bulk load has it.
    Item* NewItem(const Value& value, uint64_t hash);
    // Where the index looks first for a value of that hash (null for an empty index), for a bulk
    // load to prefetch.
    const void* HomeSlot(uint64_t hash) const { return items.HomeSlot(hash); }
    Item* GetItem(const Value& value);
    Item* operator[](const Value& value) { return GetItem(value); }
    Item* HasItem(const Value& value) const;
    ItemSet GetItems() const;
    void GetItems(ItemSet& into) const;
    size_t ItemCount() const;
    // Makes room in the value index for that many more items, so that a bulk
    // load does not rehash again and again.
    void ReserveItems(size_t count);
    // The items in byte order of their values (identity order for a valueless type).
    std::vector<Item*> GetItemsInValueOrder() const;
    void RemoveAllItems();

    Event<ItemPtr> itemAdded;
    Event<ItemPtr> itemRemoved;
    Event<ConnectionInfo> connected;
    Event<ConnectionInfo> disconnected;

    Data* const data;
    const std::string name;
    const Primacy primacy;
    const bool isNull;
    const bool autoCreate;

private:
    friend class Data;
    friend class Item;

    Item* Create(const Value& value, uint64_t hash);
    void Enter(Item* item, uint64_t hash);
    // Takes the item out of the index; false when it was not there.
    bool Leave(Item* item);
    void CheckValued() const;
    void CheckValueless() const;

    // Sorted by the related type's address; a type has few relations, and every connection
    // looks one up.
    std::vector<std::pair<Type*, RelationInfo>> relations;
    // Values are looked up by hash; the value order is produced on demand.
    ValueIndex items;
    ItemSet nullItems;
};
