#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class Item;

// The own shared files by a hash of the lower-case forms of their folder and name, so that a
// file asked for in any letter case is found without an item per name. Several files may share
// a hash; the caller checks each against the path it looks for.
class SharedFileLookup
{
public:
    static uint64_t Key(std::string_view folderForm, std::string_view nameForm);

    // Nothing when that file is entered under the key already.
    void Add(Item* file, uint64_t key);
    // Nothing when that file is not entered under the key.
    void Remove(Item* file, uint64_t key);
    void Clear();
    // Makes room for that many files without growing again.
    void Reserve(size_t files);
    size_t Size() const { return count; }

    // Calls visit(Item*) for every file entered under the key until visit returns false.
    template <class Visit> void ForEachWithKey(uint64_t key, Visit visit) const
    {
        if (table.empty())
            return;
        const size_t mask = table.size() - 1;
        for (size_t slot = Home(key); table[slot].file; slot = (slot + 1) & mask)
            if (table[slot].key == key && !visit(table[slot].file))
                return;
    }

private:
    struct Slot
    {
        uint64_t key = 0;
        Item* file = nullptr;
    };

    size_t Home(uint64_t key) const { return size_t(key) & (table.size() - 1); }
    // False when the entry is there already.
    bool Place(const Slot& entry);
    void Grow(size_t slots);

    // Open addressing, linear probing, at most half full; a null file marks a free slot.
    std::vector<Slot> table;
    size_t count = 0;
};
