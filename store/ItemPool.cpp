#include "ItemPool.h"

#include <memory>
#include <new>
#include <vector>

#include "Item.h"

#if defined(__SANITIZE_ADDRESS__)
#define VANDRELL_ITEMS_UNPOOLED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANDRELL_ITEMS_UNPOOLED 1
#endif
#endif

#ifndef VANDRELL_ITEMS_UNPOOLED
namespace {
constexpr std::size_t slotSize = (sizeof(Item) + alignof(std::max_align_t) - 1) /
                                 alignof(std::max_align_t) * alignof(std::max_align_t);
// Blocks below the C library's mapping threshold come from the heap, which grows upward, so
// that later blocks lie above earlier ones.
constexpr std::size_t slotsPerBlock = 512;

struct FreeSlot
{
    FreeSlot* next;
};

struct Pool
{
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    std::size_t block = 0; // where fresh slots come from
    std::size_t used = 0;  // slots of that block handed out
    FreeSlot* freed = nullptr;
    std::size_t live = 0;

    void* Take()
    {
        ++live;
        if (freed)
        {
            FreeSlot* slot = freed;
            freed = slot->next;
            return slot;
        }
        if (block < blocks.size() && used == slotsPerBlock)
            ++block, used = 0;
        if (block == blocks.size())
            blocks.emplace_back(new unsigned char[slotSize * slotsPerBlock]);
        return blocks[block].get() + slotSize * used++;
    }

    void Give(void* slot)
    {
        // With no item left, start again from the first block, so that the next items are made
        // in address order again instead of in the order the last ones were freed.
        if (--live == 0)
        {
            freed = nullptr;
            block = 0;
            used = 0;
            return;
        }
        freed = new (slot) FreeSlot{freed};
    }
};

Pool& ThePool()
{
    // Never destroyed: items freed by destructors of other static objects still find it.
    static Pool* pool = new Pool;
    return *pool;
}
} // namespace
#endif

void* ItemPool::Allocate(std::size_t size)
{
#ifdef VANDRELL_ITEMS_UNPOOLED
    return ::operator new(size);
#else
    (void)size; // Item is final: every request is for one slot
    return ThePool().Take();
#endif
}

void ItemPool::Free(void* slot) noexcept
{
#ifdef VANDRELL_ITEMS_UNPOOLED
    ::operator delete(slot);
#else
    ThePool().Give(slot);
#endif
}
