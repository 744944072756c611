#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Item;

// The ordered member storage of an ItemSet with two or more members: sorted
// blocks of item addresses. It keeps 8 to 16 bytes per member and inserts and
// erases in logarithmic time plus one short move, so a set that many items join
// (a shared mark, a hub) stays cheap.
class ItemBlocks
{
public:
    struct Position
    {
        uint32_t block = 0;
        uint32_t index = 0;

        bool operator==(const Position& other) const
        {
            return block == other.block && index == other.index;
        }
    };

    size_t Size() const { return count; }
    Item* First() const { return blocks.front().front(); }
    Item* At(Position position) const { return blocks[position.block][position.index]; }
    // Advances; false when the position was on the last member.
    bool Next(Position& position) const;
    bool Find(Item* item, Position& position) const;
    bool Contains(Item* item) const;

    bool Insert(Item* item);
    bool Erase(Item* item);

    template <class Visit> void ForEach(Visit visit) const
    {
        for (const std::vector<Item*>& block : blocks)
            for (Item* item : block)
                visit(item);
    }

private:
    // The first block whose last member is not below `item`, or the last block.
    size_t BlockFor(Item* item) const;

    static constexpr size_t maxBlockSize = 64;

    std::vector<std::vector<Item*>> blocks; // none empty; each sorted; in order
    std::vector<Item*> lasts;               // the last member of each block, to search in one go
    size_t count = 0;
};
