#pragma once

#include <cstddef>
#include <cstdint>

#include "ItemSet.h"

// An item's connections: partner type to the set of connected items of that
// type, ordered by the type's address. Kept as one small sorted array, since
// most items have partners of only one to three types; room for three lives
// inside the map itself (sharing its bytes with the address of the storage that
// more types need), so such items need no storage of their own.
class TypeItemsMap
{
public:
    struct Entry
    {
        Type* type = nullptr;
        ItemSet items;
    };

    class Iterator
    {
    public:
        Iterator(const TypeItemsMap* map, uint32_t index) : map(map), index(index) {}

        Iterator& operator++()
        {
            if (index < map->count)
                ++index;
            return *this;
        }
        Iterator operator++(int)
        {
            Iterator previous = *this;
            ++*this;
            return previous;
        }
        bool operator==(const Iterator& other) const
        {
            return map == other.map && index == other.index;
        }
        bool operator!=(const Iterator& other) const { return !(*this == other); }
        const Entry& operator*() const { return map->Entries()[index]; }

        Type* GetType() const { return index < map->count ? map->Entries()[index].type : nullptr; }
        ItemSet* Set() const { return index < map->count ? &map->Entries()[index].items : nullptr; }

    private:
        const TypeItemsMap* map;
        uint32_t index;
    };

    TypeItemsMap() {}
    TypeItemsMap(const TypeItemsMap& other);
    TypeItemsMap& operator=(const TypeItemsMap& other);
    ~TypeItemsMap() { Clear(); }

    Iterator Begin() const { return Iterator(this, 0); }
    Iterator End() const { return Iterator(this, count); }
    Iterator begin() const { return Begin(); }
    Iterator end() const { return End(); }
    size_t Size() const { return count; }
    bool Empty() const { return count == 0; }
    Iterator Find(Type* type) const;
    // The connected items of the type, or null.
    const ItemSet* ItemsOf(Type* type) const;

    // The entry's set, created empty when the type is missing. The reference is
    // valid until another type is added or erased.
    ItemSet& operator[](Type* type);
    void Erase(Type* type);
    void Clear();

private:
    static constexpr uint32_t inlineCapacity = 3;

    uint32_t LowerBound(Type* type) const;
    void Reserve(uint32_t wanted);
    bool OnHeap() const { return capacity > inlineCapacity; }
    Entry* Entries() const
    {
        return OnHeap() ? heap
                        : reinterpret_cast<Entry*>(const_cast<unsigned char*>(inlineStorage));
    }

    union
    {
        alignas(Entry) unsigned char inlineStorage[inlineCapacity * sizeof(Entry)];
        Entry* heap;
    };
    uint32_t count = 0;
    uint32_t capacity = inlineCapacity;
};
