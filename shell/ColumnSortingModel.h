#pragma once

#include <map>

#include <QtGlobal>

// The ordering rules of a list's columns, declared once by the view that owns the list and
// shared by all its rows. Rules are only ever added or switched on.
class ColumnSortingModel
{
public:
    struct ColumnSortingInfo
    {
        qint32 sortKind = 0; // numericSort, or anything else for text
        bool reversed = false;
    };

    static constexpr qint32 numericSort = 1;

    void SetColumnSortingNumeric(int column);
    void SetColumnSortingReversed(int column);
    bool IsSortingNumeric(int column) const;
    bool IsSortingReversed(int column) const;
    // A column without rules reads as text, not reversed; asking never adds an entry.
    ColumnSortingInfo GetColumnInfo(int column) const;
    ColumnSortingInfo& GetColumnInfoReference(int column);

private:
    std::map<int, ColumnSortingInfo> columns;
};
