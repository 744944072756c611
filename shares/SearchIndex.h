#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Item;
class QString;

// The word index of the own shared files: for every word of a shared path, the files whose path
// holds it. Files are numbered in the order they are entered and each word keeps its files as an
// ascending list of those numbers, so a search walks its rarest word's list and looks the others
// up by halving, and a word every path holds costs four bytes per file rather than a store
// connection. Numbers of removed files are skipped until half of all numbers are dead; then the
// lists are renumbered in one pass.
class SearchIndex
{
public:
    // Words are the store's values of the words: UTF-8, cut at the first NUL.
    static std::string Key(const QString& word);

    bool Contains(Item* file) const { return FindId(file) != noId; }
    bool HasWord(std::string_view word) const { return FindWord(word) != noId; }
    size_t FileCount() const { return files.size() - removedCount; }
    size_t WordCount() const { return words.size(); }

    // Enters the file under every word of the lower-cased text: first the runs of word characters
    // (digits, ASCII letters and U+0080 to U+00FF), then the runs between blanks and slashes of
    // either kind. A file already entered keeps its words.
    void Add(Item* file, const QString& lowerText);
    void Remove(Item* file);
    void Clear();
    // The file's words in byte order; a walk of the whole index, for checks.
    std::vector<std::string> WordsOf(Item* file) const;

    // Calls visit(Item*) for each file entered under every one of the words, in the order the
    // files were entered, until visit returns false. No file when a word is unknown or none is
    // given.
    template <class Visit>
    void ForEachFileWithAll(const std::vector<std::string>& keys, Visit visit) const;

private:
    static constexpr uint32_t noId = UINT32_MAX;
    static constexpr size_t prefetchDistance = 8;
    static constexpr size_t batchSize = 64;

    struct Word
    {
        std::string text;
        std::vector<uint32_t> files;
    };

    uint32_t FindId(const Item* file) const;
    uint32_t FindWord(std::string_view word) const;
    void Enter(uint32_t id, std::string_view word);
    void PlaceFile(uint32_t id);
    void PlaceWord(uint32_t index);
    void RebuildFileSlots();
    void RebuildWordSlots();
    void Renumber();
    // The lists of the words, rarest first; empty when a word is unknown.
    std::vector<const std::vector<uint32_t>*> ListsOf(const std::vector<std::string>& keys) const;

    // By number; null once removed.
    std::vector<Item*> files;
    size_t removedCount = 0;
    // Open addressing, linear probing: a file's number plus one, 0 when free.
    std::vector<uint32_t> fileSlots;
    std::vector<Word> words;
    std::vector<uint32_t> wordSlots;
};

template <class Visit>
void SearchIndex::ForEachFileWithAll(const std::vector<std::string>& keys, Visit visit) const
{
    const std::vector<const std::vector<uint32_t>*> lists = ListsOf(keys);
    if (lists.empty())
        return;
    // Candidates only grow, so each other list is searched from where the last look-up ended.
    std::vector<size_t> cursors(lists.size(), 0);
    const std::vector<uint32_t>& rarest = *lists.front();
    // Matches are gathered a batch at a time, so that the items the visit reads can be fetched
    // ahead without fetching those of files that fail the other words.
    std::vector<Item*> batch;
    size_t at = 0;
    while (at < rarest.size())
    {
        batch.clear();
        for (; at < rarest.size() && batch.size() < batchSize; ++at)
        {
            const uint32_t id = rarest[at];
            bool inAll = files[id] != nullptr;
            for (size_t list = 1; list < lists.size() && inAll; ++list)
            {
                const std::vector<uint32_t>& other = *lists[list];
                const auto found =
                    std::lower_bound(other.begin() + long(cursors[list]), other.end(), id);
                cursors[list] = size_t(found - other.begin());
                // Past the end of one list no later candidate can be in it either.
                if (found == other.end())
                    at = rarest.size();
                inAll = found != other.end() && *found == id;
            }
            if (inAll)
                batch.push_back(files[id]);
        }
        for (size_t match = 0; match < batch.size(); ++match)
        {
            if (match + prefetchDistance < batch.size())
                __builtin_prefetch(batch[match + prefetchDistance]);
            if (!visit(batch[match]))
                return;
        }
    }
}
