#pragma once

#include <cstdint>
#include <list>

#include "ItemBlocks.h"
#include "ItemPtr.h"

// A set of items ordered by identity (the item's address). One member is kept
// inline; storage is allocated only from the second member on. The set is one
// word: the member's address, or the storage's address with its low bit set
// (both are at least 8-byte aligned), since every item holds a set per partner
// type and a million shared files make several million of them.
class ItemSet
{
public:
    class Iterator
    {
    public:
        enum State
        {
            First = 0,
            AtEnd = 1,
            Later = 2
        };

        Iterator() = default;
        Iterator(const ItemSet* set, State state, ItemBlocks::Position node = {});

        Iterator& operator++();
        Iterator operator++(int);
        ItemPtr operator*() const { return Item(); }
        ItemPtr Item() const;
        bool operator==(const Iterator& other) const;
        bool operator!=(const Iterator& other) const { return !(*this == other); }

        State state = AtEnd;
        ItemBlocks::Position node;
        const ItemSet* set = nullptr;

    private:
        friend class ItemSet;
        void Normalize();
    };

    ItemSet() = default;
    ItemSet(ItemPtr item);
    ItemSet(const ItemSet& other);
    ItemSet(ItemSet&& other) noexcept;
    ItemSet& operator=(const ItemSet& other);
    ItemSet& operator=(ItemSet&& other) noexcept;
    ~ItemSet();

    Iterator Begin() const;
    Iterator End() const { return Iterator(this, Iterator::AtEnd); }
    Iterator begin() const { return Begin(); }
    Iterator end() const { return End(); }

    size_t Size() const;
    bool Empty() const { return bits == 0; }
    Iterator Find(ItemPtr item) const;
    bool Contains(ItemPtr item) const;
    operator ItemPtr() const;

    void Insert(ItemPtr item);
    void Erase(ItemPtr item);
    void Clear();

    void Add(const ItemSet& other);
    ItemSet operator+(ItemSet other) const;
    ItemSet Common(const ItemSet& other) const;
    ItemSet Connected(const ItemSet& other) const;
    ItemSet Connected(ItemPtr item) const;
    ItemSet Connected(const char* type) const;
    ItemSet Connected(const char* type, Value value) const;
    ItemSet NotConnected(const ItemSet& other) const;
    ItemSet NotConnected(ItemPtr item) const;
    ItemSet NotConnected(const char* type) const;
    ItemSet NotConnected(const char* type, Value value) const;
    ItemSet GetItems(const char* type) const;

    void Disconnect(const char* type) const;
    void Remove() const;

    std::list<ItemPtr> SortNumeric(bool ascending) const;
    std::list<ItemPtr> SortAlphabetic(bool ascending) const;
    std::list<ItemPtr> SortNumericBy(const char* type, bool ascending) const;
    std::list<ItemPtr> SortAlphabeticBy(const char* type, bool ascending, bool caseSensitive) const;

    // Visits every member in identity order.
    template <class Visit> void ForEach(Visit visit) const
    {
        if (ItemBlocks* blocks = Many())
            blocks->ForEach([&visit](::Item* item) { visit(ItemPtr(item)); });
        else if (bits != 0)
            visit(Single());
    }

private:
    static constexpr std::uintptr_t manyBit = 1;

    // The single member (null when empty or when the storage holds the members).
    ::Item* Single() const
    {
        return (bits & manyBit) ? nullptr : reinterpret_cast<::Item*>(bits);
    }
    ItemBlocks* Many() const
    {
        return (bits & manyBit) ? reinterpret_cast<ItemBlocks*>(bits & ~manyBit) : nullptr;
    }
    void SetSingle(::Item* item) { bits = reinterpret_cast<std::uintptr_t>(item); }
    void SetMany(ItemBlocks* blocks) { bits = reinterpret_cast<std::uintptr_t>(blocks) | manyBit; }

    std::uintptr_t bits = 0;
};
