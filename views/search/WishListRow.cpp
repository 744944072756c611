#include "WishListRow.h"

#include "ViewAddress.h"

WishListRow::WishListRow(QTreeWidget* tree) : QTreeWidgetItem(tree)
{
    ViewAddress::Enter(this);
}

WishListRow::~WishListRow()
{
    ViewAddress::Leave(this);
}
