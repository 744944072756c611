#include "ItemBlocks.h"

#include <algorithm>
#include <functional>

namespace {
const std::less<Item*> before;
}

size_t ItemBlocks::BlockFor(Item* item) const
{
    // Items made later tend to have higher addresses: an item above every member
    // goes to the end of the last block.
    const size_t last = blocks.size() - 1;
    if (last == 0 || before(lasts[last], item))
        return last;
    auto block = std::lower_bound(lasts.begin(), lasts.end(), item, before);
    return static_cast<size_t>(block - lasts.begin());
}

bool ItemBlocks::Next(Position& position) const
{
    if (position.index + 1 < blocks[position.block].size())
    {
        ++position.index;
        return true;
    }
    if (position.block + 1 < blocks.size())
    {
        ++position.block;
        position.index = 0;
        return true;
    }
    return false;
}

bool ItemBlocks::Find(Item* item, Position& position) const
{
    if (blocks.empty())
        return false;
    const size_t blockIndex = BlockFor(item);
    const std::vector<Item*>& block = blocks[blockIndex];
    auto found = std::lower_bound(block.begin(), block.end(), item, before);
    if (found == block.end() || *found != item)
        return false;
    position.block = static_cast<uint32_t>(blockIndex);
    position.index = static_cast<uint32_t>(found - block.begin());
    return true;
}

bool ItemBlocks::Contains(Item* item) const
{
    Position position;
    return Find(item, position);
}

bool ItemBlocks::Insert(Item* item)
{
    if (blocks.empty())
    {
        blocks.emplace_back(1, item);
        lasts.push_back(item);
        ++count;
        return true;
    }
    size_t blockIndex = BlockFor(item);
    std::vector<Item*>* block = &blocks[blockIndex];
    auto position = before(lasts[blockIndex], item)
                        ? block->end()
                        : std::lower_bound(block->begin(), block->end(), item, before);
    if (position != block->end() && *position == item)
        return false;
    if (block->size() == maxBlockSize)
    {
        // Split before inserting: each half gets an exact-fit buffer, so blocks
        // filled in address order stay dense.
        const size_t half = maxBlockSize / 2;
        std::vector<Item*> upper(block->begin() + half, block->end());
        std::vector<Item*> lower(block->begin(), block->begin() + half);
        const bool goesUpper = !before(item, upper.front());
        lasts.insert(lasts.begin() + blockIndex, lower.back());
        blocks[blockIndex] = std::move(lower);
        blocks.insert(blocks.begin() + blockIndex + 1, std::move(upper));
        if (goesUpper)
            ++blockIndex;
        block = &blocks[blockIndex];
        position = std::lower_bound(block->begin(), block->end(), item, before);
    }
    if (position == block->end())
    {
        lasts[blockIndex] = item;
        block->push_back(item);
    }
    else
        block->insert(position, item);
    ++count;
    return true;
}

bool ItemBlocks::Erase(Item* item)
{
    Position position;
    if (!Find(item, position))
        return false;
    std::vector<Item*>& block = blocks[position.block];
    block.erase(block.begin() + position.index);
    if (block.empty())
    {
        blocks.erase(blocks.begin() + position.block);
        lasts.erase(lasts.begin() + position.block);
    }
    else
    {
        lasts[position.block] = block.back();
        if (block.size() < block.capacity() / 4)
            block.shrink_to_fit();
    }
    --count;
    return true;
}
