#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Where each folder of a share list goes in a folder tree: under the row of its nearest listed
// ancestor (a folder whose parent is not listed hangs from the nearest one that is, so a name
// holding a separator stays with its family), siblings in path order. Rows deeper than the cap
// hang beside the deepest row shown instead. Only the paths' addresses are kept: a deep share
// lists paths whose lengths add up to most of the list, and a copy of each would double it.
class FolderRowPlan
{
public:
    struct Row
    {
        // Index of the folder in the paths given.
        int folder = -1;
        // Index of the folder whose row this one hangs from; -1 for a top-level row.
        int parent = -1;
        int depth = 0;
    };

    // The paths must outlive the plan.
    FolderRowPlan(const std::vector<const std::string*>& paths, bool ignoreCase, int maxDepth);
    // With each path's nearest listed ancestor known already, as NearestListedAncestors gives it:
    // finding it again reads every byte of every path.
    FolderRowPlan(const std::vector<const std::string*>& paths, const std::vector<int>& anchors,
                  bool ignoreCase, int maxDepth);

    // Every folder once, a row's parent before it, siblings in order.
    const std::vector<Row>& Rows() const { return rows; }
    int Depth() const { return depth; }

    // The part of the path a row shows below the path of the row it hangs from; the last part
    // of the path for a top-level row.
    static std::string NameBelow(const std::string& path, const std::string* parentPath);
    // Orders paths byte-wise with ASCII letters of either case alike.
    static int CompareIgnoringCase(const std::string& a, const std::string& b);
    // For each path, the index of the longest other path that is its folder prefix; -1 for
    // none. In time linear in the paths' length.
    static std::vector<int> NearestListedAncestors(const std::vector<const std::string*>& paths);

private:
    std::vector<Row> rows;
    int depth = 0;
};
