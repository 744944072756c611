#pragma once

#include <cstddef>

// Storage for the store's items: fixed-size slots carved from large blocks, handed out in
// address order, so that making a million items costs no trip through the general allocator
// and items made one after the other lie one after the other (the identity-ordered partner sets
// then grow at their ends). Items are made and freed on one thread only, as the store is used.
// Under AddressSanitizer every item is allocated on its own, so that use after free stays
// visible.
class ItemPool
{
public:
    static void* Allocate(std::size_t size);
    static void Free(void* slot) noexcept;
};
