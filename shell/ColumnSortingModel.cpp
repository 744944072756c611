#include "ColumnSortingModel.h"

void ColumnSortingModel::SetColumnSortingNumeric(int column)
{
    columns[column].sortKind = numericSort;
}

void ColumnSortingModel::SetColumnSortingReversed(int column)
{
    columns[column].reversed = true;
}

bool ColumnSortingModel::IsSortingNumeric(int column) const
{
    return GetColumnInfo(column).sortKind == numericSort;
}

bool ColumnSortingModel::IsSortingReversed(int column) const
{
    return GetColumnInfo(column).reversed;
}

ColumnSortingModel::ColumnSortingInfo ColumnSortingModel::GetColumnInfo(int column) const
{
    const auto found = columns.find(column);
    return found == columns.end() ? ColumnSortingInfo() : found->second;
}

ColumnSortingModel::ColumnSortingInfo& ColumnSortingModel::GetColumnInfoReference(int column)
{
    return columns[column];
}
