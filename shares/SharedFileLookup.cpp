#include "SharedFileLookup.h"

namespace {
// FNV-1a over the bytes, then a final mix so that the low bits, which pick the slot, depend on
// all of them.
uint64_t Mix(uint64_t hash, std::string_view bytes)
{
    for (const char byte : bytes)
        hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001B3ull;
    return hash;
}
} // namespace

uint64_t SharedFileLookup::Key(std::string_view folderForm, std::string_view nameForm)
{
    // The folder's length keeps "a/b" + "c" apart from "a" + "b/c".
    uint64_t hash = Mix(0xCBF29CE484222325ull, folderForm);
    hash = (hash ^ folderForm.size()) * 0x100000001B3ull;
    hash = Mix(hash, nameForm);
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    return hash ^ (hash >> 33);
}

bool SharedFileLookup::Place(const Slot& entry)
{
    const size_t mask = table.size() - 1;
    size_t slot = Home(entry.key);
    for (; table[slot].file; slot = (slot + 1) & mask)
        if (table[slot].file == entry.file && table[slot].key == entry.key)
            return false;
    table[slot] = entry;
    return true;
}

void SharedFileLookup::Grow(size_t slots)
{
    std::vector<Slot> old = std::move(table);
    table.assign(slots, Slot());
    for (const Slot& entry : old)
        if (entry.file)
            Place(entry);
}

void SharedFileLookup::Reserve(size_t files)
{
    size_t slots = table.empty() ? 16 : table.size();
    while (2 * files > slots)
        slots *= 2;
    if (slots != table.size())
        Grow(slots);
}

void SharedFileLookup::Add(Item* file, uint64_t key)
{
    if (!file)
        return;
    if (2 * (count + 1) > table.size())
        Grow(table.empty() ? 16 : 2 * table.size());
    if (Place(Slot{key, file}))
        ++count;
}

void SharedFileLookup::Remove(Item* file, uint64_t key)
{
    if (table.empty())
        return;
    const size_t mask = table.size() - 1;
    size_t hole = Home(key);
    while (table[hole].file && (table[hole].file != file || table[hole].key != key))
        hole = (hole + 1) & mask;
    if (!table[hole].file)
        return;
    table[hole] = Slot();
    --count;
    // Backward-shift deletion keeps every other entry reachable from its home slot.
    for (size_t next = (hole + 1) & mask; table[next].file; next = (next + 1) & mask)
    {
        if (((next - Home(table[next].key)) & mask) >= ((next - hole) & mask))
        {
            table[hole] = table[next];
            table[next] = Slot();
            hole = next;
        }
    }
}

void SharedFileLookup::Clear()
{
    table = {};
    count = 0;
}
