#include "TypeItemsMap.h"

#include <functional>
#include <memory>
#include <new>
#include <utility>

TypeItemsMap::TypeItemsMap(const TypeItemsMap& other)
{
    *this = other;
}

TypeItemsMap& TypeItemsMap::operator=(const TypeItemsMap& other)
{
    if (this == &other)
        return *this;
    Clear();
    Reserve(other.count);
    Entry* entries = Entries();
    const Entry* theirs = other.Entries();
    for (uint32_t index = 0; index < other.count; ++index)
        new (&entries[index]) Entry(theirs[index]);
    count = other.count;
    return *this;
}

uint32_t TypeItemsMap::LowerBound(Type* type) const
{
    const std::less<Type*> before;
    const Entry* entries = Entries();
    // Most items have partners of a few types: a scan beats a search there.
    if (count <= 8)
    {
        uint32_t index = 0;
        while (index < count && before(entries[index].type, type))
            ++index;
        return index;
    }
    uint32_t low = 0;
    uint32_t high = count;
    while (low < high)
    {
        const uint32_t middle = (low + high) / 2;
        if (before(entries[middle].type, type))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

TypeItemsMap::Iterator TypeItemsMap::Find(Type* type) const
{
    const uint32_t index = LowerBound(type);
    if (index < count && Entries()[index].type == type)
        return Iterator(this, index);
    return End();
}

const ItemSet* TypeItemsMap::ItemsOf(Type* type) const
{
    const uint32_t index = LowerBound(type);
    const Entry* entries = Entries();
    if (index < count && entries[index].type == type)
        return &entries[index].items;
    return nullptr;
}

// Entries live in raw storage so that one entry costs no more than its own size.
void TypeItemsMap::Reserve(uint32_t wanted)
{
    if (wanted <= capacity)
        return;
    std::allocator<Entry> allocator;
    Entry* grown = allocator.allocate(wanted);
    Entry* entries = Entries();
    for (uint32_t index = 0; index < count; ++index)
    {
        new (&grown[index]) Entry(std::move(entries[index]));
        entries[index].~Entry();
    }
    if (OnHeap())
        allocator.deallocate(entries, capacity);
    // Only now: the heap address shares its bytes with the inline entries just moved out.
    heap = grown;
    capacity = wanted;
}

ItemSet& TypeItemsMap::operator[](Type* type)
{
    const uint32_t index = LowerBound(type);
    if (index < count && Entries()[index].type == type)
        return Entries()[index].items;
    // One more at a time beyond the inline room: most items have partners of
    // one to three types.
    Reserve(count + 1);
    Entry* entries = Entries();
    new (&entries[count]) Entry();
    if (index == count)
    {
        entries[count].type = type;
        return entries[count++].items;
    }
    for (uint32_t move = count; move > index; --move)
        entries[move] = std::move(entries[move - 1]);
    entries[index].type = type;
    entries[index].items.Clear();
    ++count;
    return entries[index].items;
}

void TypeItemsMap::Erase(Type* type)
{
    const uint32_t index = LowerBound(type);
    Entry* entries = Entries();
    if (index >= count || entries[index].type != type)
        return;
    for (uint32_t move = index; move + 1 < count; ++move)
        entries[move] = std::move(entries[move + 1]);
    --count;
    entries[count].~Entry();
    // The storage stays: an item that loses its last partner often gains another soon, as
    // when a one-to-one connection is replaced.
}

void TypeItemsMap::Clear()
{
    Entry* entries = Entries();
    for (uint32_t index = 0; index < count; ++index)
        entries[index].~Entry();
    if (OnHeap())
        std::allocator<Entry>().deallocate(entries, capacity);
    count = 0;
    capacity = inlineCapacity;
}
