#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class Item;

// A type's items by value: an open-addressing table of item addresses keyed by the bytes of
// each item's value, which the item itself holds. One flat array and no allocation per item,
// so creating and loading a million items costs no more than the items themselves.
class ValueIndex
{
public:
    static uint64_t Hash(std::string_view key);

    size_t Size() const { return count; }
    Item* Find(std::string_view key) const { return Find(key, Hash(key)); }
    Item* Find(std::string_view key, uint64_t hash) const;
    // The caller makes sure no item with an equal value is indexed.
    void Insert(Item* item) { Insert(item, Hash(Key(item))); }
    void Insert(Item* item, uint64_t hash);
    // False when that very item is not indexed.
    bool Erase(Item* item);
    void Reserve(size_t wanted);
    // Finding a value usually waits for memory: a bulk load fetches the slot ahead of time. The
    // caller prefetches the address itself: a helper holding only the prefetch counts as free of
    // effects to the compiler, which then drops the call altogether.
    const void* HomeSlot(uint64_t hash) const
    {
        return table.empty() ? nullptr : &table[Home(hash)];
    }
    // Rebuilds the table in fresh memory.
    void Renew();

    template <class Visit> void ForEach(Visit visit) const
    {
        for (const Slot& slot : table)
            if (slot.item)
                visit(slot.item);
    }

private:
    struct Slot
    {
        uint64_t hash = 0;
        Item* item = nullptr;
    };

    static std::string_view Key(const Item* item);
    size_t Home(uint64_t hash) const { return size_t(hash) & (table.size() - 1); }
    void Rehash(size_t tableSize);
    void Place(const Slot& slot);

    std::vector<Slot> table; // a power of two in size, or empty
    size_t count = 0;
};
