#include "TransferRow.h"

#include "Data.h"
#include "ViewAddress.h"

TransferRow::TransferRow(QTreeWidget* tree) : QTreeWidgetItem(tree)
{
    ViewAddress::Enter(static_cast<QTreeWidgetItem*>(this));
}

TransferRow::TransferRow(QTreeWidgetItem* parentRow) : QTreeWidgetItem(parentRow)
{
    ViewAddress::Enter(static_cast<QTreeWidgetItem*>(this));
}

TransferRow::~TransferRow()
{
    ViewAddress::Leave(static_cast<QTreeWidgetItem*>(this));
}

Value TransferRow::Address(const QTreeWidgetItem* row)
{
    return ViewAddress::Of(row);
}

QTreeWidgetItem* TransferRow::Of(ItemPtr node)
{
    return ViewAddress::Find<QTreeWidgetItem>(node);
}

ItemPtr TransferRow::NodeOf(const QTreeWidgetItem* row, const char* nodeType)
{
    if (!row)
        return ItemPtr();
    return ::d.GetType(nodeType)->HasItem(Address(row));
}
