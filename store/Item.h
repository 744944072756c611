#pragma once

#include <cstddef>
#include <list>
#include <map>

#include "ItemPtr.h"
#include "TypeItemsMap.h"
#include "Value.h"

using Path = std::list<Type*>;

// One item of the store. Items are created by their type and freed only by
// Remove (or by the store's renewal and destruction).
class Item final
{
public:
    Item(Type* type, Value value) : type(type), value(std::move(value)) {}
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;

    static void* operator new(std::size_t size);
    static void operator delete(void* item) noexcept;

    ItemPtr HasItem(const char* typeName) const;
    ItemPtr HasItem(Type* partnerType) const;
    bool IsConnected(Item* other) const;
    bool IsConnected(Type* partnerType) const;

    void Connect(Item* other);
    void Disconnect(Item* other);
    void Disconnect(const char* typeName);
    Item* NewItem(const char* typeName);
    void Remove();

    void GetItems(const char* typeName, ItemSet& into) const;
    void GetConnectedItems(TypeItemsMap& into) const { into = connections; }

    void GetUniqueItemsFromOrTo(Path path, std::map<Item*, Path>& found, bool toSingle);
    void GetUniqueToItems(std::map<Item*, Path>& found)
    {
        GetUniqueItemsFromOrTo({}, found, false);
    }
    void GetUniqueItems(std::map<Item*, Path>& found) { GetUniqueItemsFromOrTo({}, found, true); }

    // Null once the item has been removed while a walk of the store still held
    // it (the store frees such items when the walk ends).
    Type* type;
    const Value value;
    TypeItemsMap connections;

private:
    friend class Data;
    void Link(Item* other);
    void Unlink(Item* other);
};
