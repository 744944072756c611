#pragma once

#include <vector>

#include "ItemPtr.h"
#include "ItemSet.h"

// The members of a set taken out first, for loops whose steps change the store the set came
// from (each removal of an entry is a store event).
inline std::vector<ItemPtr> EntryList(const ItemSet& entries)
{
    std::vector<ItemPtr> list;
    list.reserve(entries.Size());
    entries.ForEach([&list](ItemPtr entry) { list.push_back(entry); });
    return list;
}
