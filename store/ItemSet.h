#pragma once

#include <list>

#include "ItemBlocks.h"
#include "ItemPtr.h"

// A set of items ordered by identity (the item's address). One member is kept
// inline; storage is allocated only from the second member on.
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
    bool Empty() const { return single.IsNull() && many == nullptr; }
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
        if (!single.IsNull())
            visit(single);
        else if (many)
            many->ForEach([&visit](::Item* item) { visit(ItemPtr(item)); });
    }

private:
    ItemPtr single;
    ItemBlocks* many = nullptr;
};
