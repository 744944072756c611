#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include <QDialog>

#include "DataHandler.h"
#include "ItemPtr.h"

class Data;
class QListWidgetItem;
class QTreeWidgetItem;
class Type;

namespace Ui {
class DataDialog;
}

// A developer's window onto the store: every type with its live item count, the items of the
// selected type, and a tree of what a clicked item is connected to, loaded one level at a time
// as it is opened. At most one exists; it frees itself when closed.
class DataDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    DataDialog(Data* ip_store, QWidget* ip_parent = nullptr);
    ~DataDialog() override;

    // Store handlers for every item added or removed anywhere in the store.
    void OnItemAdded(ItemPtr i_item);
    void OnItemRemoved(ItemPtr i_item);

    // Adds one level of the tree below `ip_node`, which shows `i_item`, leaving out connected
    // items of `i_skippedTypes`.
    void AddItemSubnodes(ItemPtr i_item, QTreeWidgetItem* ip_node, std::set<Type*> i_skippedTypes);

public slots:
    void OnTypeItemSelectionChanged();
    void OnItemClicked(QListWidgetItem* ip_row);
    void OnDataSubItemExpanded(QTreeWidgetItem* ip_node);

private:
    QTreeWidgetItem* TypeRow(Type* ip_type);
    void ShowItemCount(Type* ip_type);
    void AddListRow(ItemPtr i_item);
    void ClearTree();
    void DeleteTreeNodes(ItemPtr i_item);
    void ForgetSubtree(QTreeWidgetItem* ip_node);

    std::unique_ptr<Ui::DataDialog> ui;
    Data* store;
    std::map<std::string, QTreeWidgetItem*> typeRowsByName;
    std::map<QTreeWidgetItem*, std::string> typeNamesByRow;
    Type* selectedType = nullptr;
    ItemPtr clickedItem;
    std::map<ItemPtr, QListWidgetItem*> listRowsByItem;
    std::map<QListWidgetItem*, ItemPtr> itemsByListRow;
    std::map<ItemPtr, std::set<QTreeWidgetItem*>> treeNodesByItem;
    std::map<QTreeWidgetItem*, ItemPtr> itemsByTreeNode;
};

// The open data browser, or null.
extern DataDialog* dataDialog;
