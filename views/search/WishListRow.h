#pragma once

#include <QTreeWidgetItem>

// A row of the wish list, entered as a live address while it exists, so that a deferred
// deletion or a stale node item never reaches a row that is already gone.
class WishListRow : public QTreeWidgetItem
{
public:
    explicit WishListRow(QTreeWidget* tree);
    ~WishListRow() override;
};
