#include "FolderRowPlan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <unordered_map>
#include <utility>

#include "GeneralFunctions.h"

namespace {
constexpr std::uint64_t hashStart = 14695981039346656037ull;
constexpr std::uint64_t hashFactor = 1099511628211ull;

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Byte by byte, so that the hash of every prefix is met on the way to the whole path's.
std::uint64_t NextHash(std::uint64_t hash, char c)
{
    return (hash ^ static_cast<unsigned char>(c)) * hashFactor;
}

std::uint64_t HashOf(const std::string& path)
{
    std::uint64_t hash = hashStart;
    for (char c : path)
        hash = NextHash(hash, c);
    return hash;
}

char Lowered(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}

// Sorts by merging the runs already in order. Folders come mostly in order, and deep paths share
// long stretches that a sort from scratch would compare many times over.
template <class Before> void SortMostlyOrdered(std::vector<int>& order, Before before)
{
    std::vector<size_t> runs{0};
    for (size_t at = 1; at < order.size(); ++at)
        if (before(order[at], order[at - 1]))
            runs.push_back(at);
    runs.push_back(order.size());
    while (runs.size() > 2)
    {
        std::vector<size_t> merged{0};
        for (size_t run = 2; run < runs.size(); run += 2)
        {
            std::inplace_merge(order.begin() + runs[run - 2], order.begin() + runs[run - 1],
                               order.begin() + runs[run], before);
            merged.push_back(runs[run]);
        }
        if (merged.back() != order.size())
            merged.push_back(order.size());
        runs = std::move(merged);
    }
}

bool InByteOrder(const std::vector<const std::string*>& paths)
{
    return std::is_sorted(paths.begin(), paths.end(),
                          [](const std::string* a, const std::string* b) { return *a < *b; });
}

// Where trailing separators begin: they name the same folder, not a child.
size_t EndOfName(const std::string& path)
{
    size_t end = path.size();
    while (end > 0 && IsSeparator(path[end - 1]))
        --end;
    return end;
}

// NearestListedAncestors for paths in byte order, reading each byte about once. Every listed
// prefix of a path sorts before it, and so does everything between them, which shares the
// prefix: the listed prefixes of the paths met so far are kept as a chain, each a prefix of the
// next, cut back to those of the path at hand.
std::vector<int> AncestorsInByteOrder(const std::vector<const std::string*>& paths)
{
    std::vector<int> anchors(paths.size(), -1);
    std::vector<int> chain;
    for (size_t index = 0; index < paths.size(); ++index)
    {
        const std::string& path = *paths[index];
        while (!chain.empty())
        {
            const std::string& prefix = *paths[chain.back()];
            if (prefix.size() < path.size() && path.compare(0, prefix.size(), prefix) == 0)
                break;
            chain.pop_back();
        }
        const size_t end = EndOfName(path);
        // The longest listed prefix that ends before a separator of the name.
        for (auto link = chain.rbegin(); link != chain.rend(); ++link)
        {
            const size_t length = paths[*link]->size();
            if (length > 0 && length < end && IsSeparator(path[length]))
            {
                anchors[index] = *link;
                break;
            }
        }
        chain.push_back(int(index));
    }
    return anchors;
}
} // namespace

FolderRowPlan::FolderRowPlan(const std::vector<const std::string*>& paths, bool ignoreCase,
                             int maxDepth)
    : FolderRowPlan(paths, NearestListedAncestors(paths), ignoreCase, maxDepth)
{}

FolderRowPlan::FolderRowPlan(const std::vector<const std::string*>& paths,
                             const std::vector<int>& anchors, bool ignoreCase, int maxDepth)
{
    std::vector<int> order(paths.size());
    std::iota(order.begin(), order.end(), 0);
    auto before = [&paths, ignoreCase](int a, int b) {
        if (ignoreCase)
        {
            const int caseless = CompareIgnoringCase(*paths[a], *paths[b]);
            if (caseless != 0)
                return caseless < 0;
        }
        return *paths[a] < *paths[b];
    };
    // An ancestor's path is a prefix of its descendants', so it always sorts before them.
    SortMostlyOrdered(order, before);
    std::vector<Row> placed(paths.size());
    rows.reserve(paths.size());
    for (int folder : order)
    {
        Row row{folder, -1, 0};
        const int anchor = anchors[folder];
        if (anchor >= 0 && placed[anchor].depth < maxDepth)
            row = {folder, anchor, placed[anchor].depth + 1};
        else if (anchor >= 0)
            row = {folder, placed[anchor].parent, placed[anchor].depth};
        placed[folder] = row;
        depth = std::max(depth, row.depth);
        rows.push_back(row);
    }
}

std::vector<int> FolderRowPlan::NearestListedAncestors(const std::vector<const std::string*>& paths)
{
    // A share list comes in byte order.
    if (InByteOrder(paths))
        return AncestorsInByteOrder(paths);
    std::unordered_multimap<std::uint64_t, int> byHash;
    byHash.reserve(paths.size());
    for (size_t index = 0; index < paths.size(); ++index)
        byHash.emplace(HashOf(*paths[index]), int(index));
    std::vector<int> anchors(paths.size(), -1);
    // Length and hash of each prefix that ends before a separator.
    std::vector<std::pair<size_t, std::uint64_t>> prefixes;
    for (size_t index = 0; index < paths.size(); ++index)
    {
        const std::string& path = *paths[index];
        const size_t end = EndOfName(path);
        prefixes.clear();
        std::uint64_t hash = hashStart;
        for (size_t at = 0; at < end; ++at)
        {
            if (at > 0 && IsSeparator(path[at]))
                prefixes.emplace_back(at, hash);
            hash = NextHash(hash, path[at]);
        }
        for (auto prefix = prefixes.rbegin(); prefix != prefixes.rend() && anchors[index] < 0;
             ++prefix)
        {
            const auto [first, last] = byHash.equal_range(prefix->second);
            for (auto candidate = first; candidate != last; ++candidate)
            {
                const std::string& listed = *paths[candidate->second];
                if (listed.size() == prefix->first && path.compare(0, prefix->first, listed) == 0)
                {
                    anchors[index] = candidate->second;
                    break;
                }
            }
        }
    }
    return anchors;
}

std::string FolderRowPlan::NameBelow(const std::string& path, const std::string* parentPath)
{
    if (!parentPath || parentPath->size() >= path.size())
        return GetFileName(path);
    size_t begin = parentPath->size();
    while (begin < path.size() && IsSeparator(path[begin]))
        ++begin;
    size_t end = path.size();
    if (end > begin && IsSeparator(path[end - 1]))
        --end;
    return path.substr(begin, end - begin);
}

int FolderRowPlan::CompareIgnoringCase(const std::string& a, const std::string& b)
{
    const size_t common = std::min(a.size(), b.size());
    // Long names often share long stretches: those are skipped a block at a time.
    constexpr size_t block = 64;
    size_t at = 0;
    while (at < common)
    {
        const size_t length = std::min(block, common - at);
        if (std::memcmp(a.data() + at, b.data() + at, length) == 0)
        {
            at += length;
            continue;
        }
        for (const size_t stop = at + length; at < stop; ++at)
        {
            const unsigned char left = Lowered(a[at]);
            const unsigned char right = Lowered(b[at]);
            if (left != right)
                return left < right ? -1 : 1;
        }
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}
