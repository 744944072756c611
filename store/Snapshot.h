#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// A copy of a list taken before walking it, so that the walk may change the
// original. Short lists, the usual case, are copied onto the stack.
template <class T, size_t N = 16> class Snapshot
{
public:
    template <class Range> explicit Snapshot(const Range& range) : count(range.size())
    {
        if (count <= N)
            std::copy(range.begin(), range.end(), local);
        else
            heap.assign(range.begin(), range.end());
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    const T* begin() const { return count <= N ? local : heap.data(); }
    const T* end() const { return begin() + count; }

private:
    size_t count;
    T local[N];
    std::vector<T> heap;
};
