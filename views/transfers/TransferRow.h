#pragma once

#include <QTreeWidgetItem>

#include "ItemPtr.h"
#include "Value.h"

// A row of the transfer trees. Node items in the store hold its address; the row enters itself
// in the live set while it exists, so that a node left behind can never lead to a deleted row.
class TransferRow : public QTreeWidgetItem
{
public:
    explicit TransferRow(QTreeWidget* tree);
    explicit TransferRow(QTreeWidgetItem* parentRow);
    ~TransferRow() override;

    // The value a node item keeps for the row.
    static Value Address(const QTreeWidgetItem* row);
    // Whether a row lives at the address now.
    static bool IsLive(const QTreeWidgetItem* row);
    // The live row whose address the node holds, or null.
    static QTreeWidgetItem* Of(ItemPtr node);
    // The node of the given type that holds the row's address, or null; never creates.
    static ItemPtr NodeOf(const QTreeWidgetItem* row, const char* nodeType);
};
