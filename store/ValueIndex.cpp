#include "ValueIndex.h"

#include <functional>

#include "Item.h"

namespace {
// At most three quarters full, so that probe runs stay short.
size_t SlotsFor(size_t itemCount)
{
    size_t table = 8;
    while (table - table / 4 < itemCount)
        table *= 2;
    return table;
}
} // namespace

uint64_t ValueIndex::Hash(std::string_view key)
{
    // The table takes the low bits: mix the high ones in, whatever the library's hash does.
    uint64_t hash = std::hash<std::string_view>()(key);
    hash ^= hash >> 29;
    hash *= 0xbf58476d1ce4e5b9ULL;
    return hash ^ (hash >> 32);
}

std::string_view ValueIndex::Key(const Item* item)
{
    return item->value.Bytes();
}

Item* ValueIndex::Find(std::string_view key, uint64_t hash) const
{
    if (table.empty())
        return nullptr;
    for (size_t at = Home(hash);; at = (at + 1) & (table.size() - 1))
    {
        const Slot& slot = table[at];
        if (!slot.item)
            return nullptr;
        if (slot.hash == hash && Key(slot.item) == key)
            return slot.item;
    }
}

void ValueIndex::Place(const Slot& slot)
{
    size_t at = Home(slot.hash);
    while (table[at].item)
        at = (at + 1) & (table.size() - 1);
    table[at] = slot;
}

void ValueIndex::Insert(Item* item, uint64_t hash)
{
    Reserve(count + 1);
    Place(Slot{hash, item});
    ++count;
}

bool ValueIndex::Erase(Item* item)
{
    if (table.empty())
        return false;
    const size_t mask = table.size() - 1;
    size_t at = Home(Hash(Key(item)));
    while (table[at].item != item)
    {
        if (!table[at].item)
            return false;
        at = (at + 1) & mask;
    }
    // Backward-shift deletion: move later members of the run into the gap when their home
    // allows it, so that no lookup stops early at a hole.
    size_t gap = at;
    for (size_t next = (gap + 1) & mask; table[next].item; next = (next + 1) & mask)
    {
        const size_t home = Home(table[next].hash);
        const bool movable = ((next - home) & mask) >= ((next - gap) & mask);
        if (movable)
        {
            table[gap] = table[next];
            gap = next;
        }
    }
    table[gap] = Slot();
    --count;
    return true;
}

void ValueIndex::Reserve(size_t wanted)
{
    if (wanted <= table.size() - table.size() / 4 && !table.empty())
        return;
    Rehash(SlotsFor(wanted));
}

void ValueIndex::Renew()
{
    Rehash(SlotsFor(count));
}

void ValueIndex::Rehash(size_t tableSize)
{
    std::vector<Slot> old(tableSize);
    old.swap(table);
    for (const Slot& slot : old)
        if (slot.item)
            Place(slot);
}
