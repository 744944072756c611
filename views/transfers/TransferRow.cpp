#include "TransferRow.h"

#include <unordered_set>

#include "Data.h"
#include "ViewAddress.h"

namespace {
// The rows alive now. Kept apart from the other views' live widgets, so that a freed row's
// address taken over by a widget of another view never passes for a row.
std::unordered_set<const QTreeWidgetItem*>& LiveRows()
{
    static std::unordered_set<const QTreeWidgetItem*> rows;
    return rows;
}
} // namespace

TransferRow::TransferRow(QTreeWidget* tree) : QTreeWidgetItem(tree)
{
    LiveRows().insert(this);
}

TransferRow::TransferRow(QTreeWidgetItem* parentRow) : QTreeWidgetItem(parentRow)
{
    LiveRows().insert(this);
}

TransferRow::~TransferRow()
{
    LiveRows().erase(this);
}

bool TransferRow::IsLive(const QTreeWidgetItem* row)
{
    return row && LiveRows().count(row) != 0;
}

Value TransferRow::Address(const QTreeWidgetItem* row)
{
    return ViewAddress::Of(row);
}

QTreeWidgetItem* TransferRow::Of(ItemPtr node)
{
    if (node.IsNull())
        return nullptr;
    auto* row = node.AsPointer<QTreeWidgetItem>();
    return IsLive(row) ? row : nullptr;
}

ItemPtr TransferRow::NodeOf(const QTreeWidgetItem* row, const char* nodeType)
{
    if (!row)
        return ItemPtr();
    return ::d.GetType(nodeType)->HasItem(Address(row));
}
