#include "SearchIndex.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include <QString>

#include "Value.h"

namespace {
size_t FileHash(const Item* file)
{
    // Items lie on 16-byte steps; the multiplication spreads the rest over the high bits.
    return size_t((reinterpret_cast<std::uintptr_t>(file) >> 4) * 0x9E3779B97F4A7C15ull >> 17);
}

size_t WordHash(std::string_view word)
{
    return std::hash<std::string_view>()(word);
}

// Slots for that many entries, at most half full, a power of two.
size_t SlotCountFor(size_t entries)
{
    size_t count = 16;
    while (count < 2 * entries + 2)
        count *= 2;
    return count;
}

bool IsAsciiWordByte(unsigned char byte)
{
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
           (byte >= 'A' && byte <= 'Z');
}

// The bytes of the UTF-8 character that starts with the byte.
size_t CharacterLength(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// Runs of word characters: ASCII letters and digits, and the characters U+0080 to U+00FF, whose
// UTF-8 form starts with 0xC2 or 0xC3.
template <class Enter> void ForEachLetterRun(std::string_view text, Enter enter)
{
    size_t start = std::string_view::npos;
    size_t at = 0;
    while (at < text.size())
    {
        const auto lead = static_cast<unsigned char>(text[at]);
        const size_t length = std::min(CharacterLength(lead), text.size() - at);
        const bool wordCharacter =
            lead < 0x80 ? IsAsciiWordByte(lead) : (lead == 0xC2 || lead == 0xC3);
        if (wordCharacter && start == std::string_view::npos)
            start = at;
        else if (!wordCharacter && start != std::string_view::npos)
        {
            enter(text.substr(start, at - start));
            start = std::string_view::npos;
        }
        at += length;
    }
    if (start != std::string_view::npos)
        enter(text.substr(start));
}

// Runs between blanks and slashes; a word is cut at a NUL, as the store cuts a value.
template <class Enter> void ForEachPathRun(std::string_view text, Enter enter)
{
    size_t start = std::string_view::npos;
    for (size_t at = 0; at <= text.size(); ++at)
    {
        const bool separator =
            at == text.size() || text[at] == ' ' || text[at] == '/' || text[at] == '\\';
        if (!separator && start == std::string_view::npos)
            start = at;
        else if (separator && start != std::string_view::npos)
        {
            const std::string_view word = text.substr(start, at - start);
            enter(word.substr(0, std::min(word.size(), word.find('\0'))));
            start = std::string_view::npos;
        }
    }
}
} // namespace

std::string SearchIndex::Key(const QString& word)
{
    return Value(word).Bytes();
}

uint32_t SearchIndex::FindId(const Item* file) const
{
    if (fileSlots.empty())
        return noId;
    const size_t mask = fileSlots.size() - 1;
    for (size_t slot = FileHash(file) & mask; fileSlots[slot] != 0; slot = (slot + 1) & mask)
        if (files[fileSlots[slot] - 1] == file)
            return fileSlots[slot] - 1;
    return noId;
}

uint32_t SearchIndex::FindWord(std::string_view word) const
{
    if (wordSlots.empty())
        return noId;
    const size_t mask = wordSlots.size() - 1;
    for (size_t slot = WordHash(word) & mask; wordSlots[slot] != 0; slot = (slot + 1) & mask)
        if (words[wordSlots[slot] - 1].text == word)
            return wordSlots[slot] - 1;
    return noId;
}

void SearchIndex::PlaceFile(uint32_t id)
{
    const size_t mask = fileSlots.size() - 1;
    size_t slot = FileHash(files[id]) & mask;
    while (fileSlots[slot] != 0)
        slot = (slot + 1) & mask;
    fileSlots[slot] = id + 1;
}

void SearchIndex::PlaceWord(uint32_t index)
{
    const size_t mask = wordSlots.size() - 1;
    size_t slot = WordHash(words[index].text) & mask;
    while (wordSlots[slot] != 0)
        slot = (slot + 1) & mask;
    wordSlots[slot] = index + 1;
}

void SearchIndex::RebuildFileSlots()
{
    fileSlots.assign(SlotCountFor(FileCount()), 0);
    for (uint32_t id = 0; id < files.size(); ++id)
        if (files[id])
            PlaceFile(id);
}

void SearchIndex::RebuildWordSlots()
{
    wordSlots.assign(SlotCountFor(words.size()), 0);
    for (uint32_t index = 0; index < words.size(); ++index)
        PlaceWord(index);
}

void SearchIndex::Enter(uint32_t id, std::string_view word)
{
    uint32_t index = FindWord(word);
    if (index == noId)
    {
        index = uint32_t(words.size());
        words.push_back(Word{std::string(word), {}});
        if (2 * words.size() + 2 > wordSlots.size())
            RebuildWordSlots();
        else
            PlaceWord(index);
    }
    // A file's words are entered together and its number is the highest yet: a word met twice
    // in one path is already at the end of its list.
    std::vector<uint32_t>& list = words[index].files;
    if (list.empty() || list.back() != id)
        list.push_back(id);
}

void SearchIndex::Add(Item* file, const QString& lowerText)
{
    if (!file || Contains(file) || files.size() >= noId - 1)
        return;
    const auto id = uint32_t(files.size());
    files.push_back(file);
    if (2 * FileCount() + 2 > fileSlots.size())
        RebuildFileSlots();
    else
        PlaceFile(id);
    const QByteArray bytes = lowerText.toUtf8();
    const std::string_view text(bytes.constData(), size_t(bytes.size()));
    const auto enter = [&](std::string_view word) { Enter(id, word); };
    ForEachLetterRun(text, enter);
    ForEachPathRun(text, enter);
}

void SearchIndex::Remove(Item* file)
{
    const uint32_t id = FindId(file);
    if (id == noId)
        return;
    // Backward-shift deletion keeps every other file reachable from its home slot.
    const size_t mask = fileSlots.size() - 1;
    size_t hole = FileHash(file) & mask;
    while (fileSlots[hole] != id + 1)
        hole = (hole + 1) & mask;
    fileSlots[hole] = 0;
    for (size_t next = (hole + 1) & mask; fileSlots[next] != 0; next = (next + 1) & mask)
    {
        const size_t home = FileHash(files[fileSlots[next] - 1]) & mask;
        // Moves back when its home is not within (hole, next].
        if (((next - home) & mask) >= ((next - hole) & mask))
        {
            fileSlots[hole] = fileSlots[next];
            fileSlots[next] = 0;
            hole = next;
        }
    }
    files[id] = nullptr;
    ++removedCount;
    if (FileCount() == 0)
        Clear();
    else if (removedCount > 1024 && removedCount > files.size() / 2)
        Renumber();
}

void SearchIndex::Clear()
{
    files = {};
    removedCount = 0;
    fileSlots = {};
    words = {};
    wordSlots = {};
}

void SearchIndex::Renumber()
{
    std::vector<uint32_t> renumbered(files.size(), noId);
    std::vector<Item*> kept;
    kept.reserve(FileCount());
    for (uint32_t id = 0; id < files.size(); ++id)
    {
        if (!files[id])
            continue;
        renumbered[id] = uint32_t(kept.size());
        kept.push_back(files[id]);
    }
    std::vector<Word> keptWords;
    for (Word& word : words)
    {
        size_t written = 0;
        for (const uint32_t id : word.files)
            if (renumbered[id] != noId)
                word.files[written++] = renumbered[id];
        if (written == 0)
            continue;
        word.files.resize(written);
        word.files.shrink_to_fit();
        keptWords.push_back(std::move(word));
    }
    files = std::move(kept);
    removedCount = 0;
    words = std::move(keptWords);
    RebuildFileSlots();
    RebuildWordSlots();
}

std::vector<std::string> SearchIndex::WordsOf(Item* file) const
{
    std::vector<std::string> found;
    const uint32_t id = FindId(file);
    if (id == noId)
        return found;
    for (const Word& word : words)
        if (std::binary_search(word.files.begin(), word.files.end(), id))
            found.push_back(word.text);
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<const std::vector<uint32_t>*>
SearchIndex::ListsOf(const std::vector<std::string>& keys) const
{
    std::vector<const std::vector<uint32_t>*> lists;
    for (const std::string& key : keys)
    {
        const uint32_t index = FindWord(key);
        if (index == noId)
            return {};
        lists.push_back(&words[index].files);
    }
    std::sort(lists.begin(), lists.end(),
              [](const auto* left, const auto* right) { return left->size() < right->size(); });
    return lists;
}
