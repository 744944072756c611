#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QMenu>
#include <QTreeWidget>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DataSaver.h"
#include "SearchForm.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "WishListRow.h"
#include "ui_SearchForm.h"

using namespace SearchTypes;
using WindowTypes::wishListItem;
using WindowTypes::wishListItemEnabled;

namespace {
ItemPtr NodeOf(QTreeWidgetItem* row)
{
    return ItemPtr(d.GetType(wishListNode)->HasItem(Value(row)));
}

QCheckBox* BoxOf(ItemPtr node)
{
    return ViewAddress::Find<QCheckBox>(node[wishListNodeCheckbox]);
}
} // namespace

void SearchForm::InitWishList()
{
    QTreeWidget* list = ui->wishList;
    list->setColumnCount(2);
    list->setHeaderLabels({QString(), tr("Wish List Search")});
    list->setColumnWidth(0, 20);
    list->header()->setSectionResizeMode(QHeaderView::Fixed);
    list->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                          QAbstractItemView::EditKeyPressed);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    if (dataSaver)
        dataSaver->AddSavedType(wishListItemFilterText);
    if (actionBar)
    {
        actionBar->AddSetAction("wish_list", "enable_all_wish_list_items",
                                tr("Enable All Wish List Searches"), ":/icons/wishlist_icon",
                                false);
        actionBar->AddSetAction("wish_list", "disable_all_wish_list_items",
                                tr("Disable All Wish List Searches"), ":/icons/wishlist_icon",
                                false);
        actionBar->RegisterWidget(list, "wish_list");
    }
    list->setSortingEnabled(true);
    list->sortByColumn(1, Qt::AscendingOrder);
}

void SearchForm::OnWishListItemAdded(ItemPtr wish)
{
    if (wish.IsNull() || BoxOf(wish[wishListNode]))
        return;
    adding = true;
    auto* row = new WishListRow(ui->wishList);
    row->setText(1, wish.AsString());
    row->setFlags(row->flags() | Qt::ItemIsEditable);
    auto* box = new QCheckBox;
    ViewAddress::Enter(box);
    connect(box, &QObject::destroyed, [box] { ViewAddress::Leave(box); });
    ui->wishList->setItemWidget(row, 0, box);
    row->setTextAlignment(0, Qt::AlignHCenter);
    const bool enabled = wish.IsConnected(wishListItemEnabled);
    row->setText(0, enabled ? "Y" : "");
    box->setChecked(enabled);
    ItemPtr node(d.GetType(wishListNode)->NewItem(Value(row)));
    wish.Connect(node);
    node.Connect(ItemPtr(d.GetType(wishListNodeCheckbox)->NewItem(Value(box))));
    connect(box, &QCheckBox::stateChanged, this, &SearchForm::OnWishListItemCheckStateChanged);
    adding = false;
}

void SearchForm::OnWishListItemRemoved(ItemPtr wish)
{
    ItemPtr node = wish[wishListNode];
    if (node.IsNull())
        return;
    node[wishListNodeCheckbox].Remove();
    if (QTreeWidgetItem* row = ViewAddress::Find<QTreeWidgetItem>(node))
        delete row;
    node.Remove();
}

void SearchForm::OnWishListItemCheckStateChanged(int i_state)
{
    ItemPtr boxItem(d.GetType(wishListNodeCheckbox)->HasItem(Value(sender())));
    ItemPtr node = boxItem[wishListNode];
    ItemPtr wish = node[wishListItem];
    QTreeWidgetItem* row = ViewAddress::Find<QTreeWidgetItem>(node);
    if (wish.IsNull() || !row || i_state == Qt::PartiallyChecked)
        return;
    const bool checked = i_state == Qt::Checked;
    if (checked)
        wish.NewItem(wishListItemEnabled);
    else
        wish.Disconnect(wishListItemEnabled);
    adding = true;
    row->setText(0, checked ? "Y" : "");
    adding = false;
}

void SearchForm::SetAllWishListItems(bool enabled)
{
    for (ItemPtr wish : g(wishListItem))
        if (QCheckBox* box = BoxOf(wish[wishListNode]))
            box->setChecked(enabled);
}

void SearchForm::RequestDeleteNode(QTreeWidgetItem* row)
{
    QMetaObject::invokeMethod(this, "DeleteNode", Qt::QueuedConnection,
                              Q_ARG(QTreeWidgetItem*, row));
}

void SearchForm::OnWishListItemChanged(QTreeWidgetItem* ip_row, int i_column)
{
    if (adding || i_column != 1 || !ip_row)
        return;
    QTreeWidget* list = ui->wishList;
    // Rows show their texts trimmed, so that each row's text is its item's value.
    adding = true;
    for (int index = 0; index < list->topLevelItemCount(); ++index)
    {
        QTreeWidgetItem* row = list->topLevelItem(index);
        if (row->text(1) != row->text(1).trimmed())
            row->setText(1, row->text(1).trimmed());
    }
    adding = false;
    for (ItemPtr wish : g(wishListItem))
    {
        const QString text = wish.AsString();
        bool shown = false;
        for (int index = 0; index < list->topLevelItemCount() && !shown; ++index)
            shown = list->topLevelItem(index)->text(1) == text;
        if (!shown)
        {
            wish.Disconnect(wishListNode);
            wish.Remove();
        }
    }
    for (int index = 0; index < list->topLevelItemCount(); ++index)
    {
        QTreeWidgetItem* row = list->topLevelItem(index);
        const QString text = row->text(1);
        if (text.isEmpty())
        {
            RequestDeleteNode(row);
            return;
        }
        if (!ItemPtr(d.GetType(wishListItem)->HasItem(Value(text))).IsNull())
            continue;
        ItemPtr node = NodeOf(row);
        if (node.IsNull() || !node[wishListItem].IsNull())
            continue;
        ItemPtr wish(d.GetType(wishListItem)->NewItem(Value(text)));
        wish.Connect(node);
        QCheckBox* box = BoxOf(node);
        if (box && box->isChecked())
            wish.NewItem(wishListItemEnabled);
    }
    for (ItemPtr node : g(wishListNode))
        if (node[wishListItem].IsNull())
            if (QTreeWidgetItem* row = ViewAddress::Find<QTreeWidgetItem>(node))
                RequestDeleteNode(row);
}

void SearchForm::DeleteNode(QTreeWidgetItem* ip_row)
{
    // The row may have gone while the call waited: look it up before touching it.
    ItemPtr node = NodeOf(ip_row);
    if (node.IsNull() || !ViewAddress::IsLive(ip_row))
        return;
    delete ip_row;
    node[wishListNodeCheckbox].Remove();
    node.Remove();
}

void SearchForm::OnWishListContextMenuRequested(QPoint i_point)
{
    if (!ui->wishList->itemAt(i_point))
        return;
    QMenu menu;
    QAction* remove = menu.addAction(QIcon(":/icons/wishlist_icon"), tr("Remove Wish List Search"));
    connect(remove, &QAction::triggered, this, &SearchForm::OnRemoveWishListItemRequested);
    menu.exec(ui->wishList->viewport()->mapToGlobal(i_point));
}

void SearchForm::OnRemoveWishListItemRequested()
{
    for (QTreeWidgetItem* row : ui->wishList->selectedItems())
        NodeOf(row)[wishListItem].Remove();
}
