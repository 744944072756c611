#include "DataDialog.h"

#include <cstdint>
#include <vector>

#include <QHeaderView>
#include <QListWidgetItem>
#include <QTreeWidgetItem>

#include "ui_DataDialog.h"

#include "Data.h"

DataDialog* dataDialog = nullptr;

namespace {
const int typeListWidth = 350;
const int nameColumn = 0;
const int kindColumn = 1;
const int countColumn = 2;
const char* const unloadedText = "~~unloaded~~";

QString TypeName(const Type* ip_type)
{
    return QString::fromStdString(ip_type->name);
}

// A valueless item has nothing else to tell it apart from the others of its type.
QString ListText(ItemPtr i_item)
{
    if (!i_item->type->isNull)
        return i_item.AsString();
    return QString("%1").arg(static_cast<qlonglong>(reinterpret_cast<std::intptr_t>(i_item.Get())));
}

QString NodeText(ItemPtr i_item)
{
    if (i_item->type->isNull)
        return "[" + TypeName(i_item->type) + ", null]";
    return "[" + TypeName(i_item->type) + "] " + i_item.AsString();
}

bool HasAncestorIn(QTreeWidgetItem* ip_node, const std::set<QTreeWidgetItem*>& i_nodes)
{
    for (QTreeWidgetItem* up = ip_node->parent(); up; up = up->parent())
        if (i_nodes.count(up))
            return true;
    return false;
}
} // namespace

DataDialog::DataDialog(Data* ip_store, QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui::DataDialog), store(ip_store)
{
    ui->setupUi(this);
    dataDialog = this;

    ui->typeSplitter->setSizes({typeListWidth, width() - typeListWidth});
    ui->typeSplitter->setStretchFactor(0, 0);
    ui->typeSplitter->setStretchFactor(1, 1);

    ui->typeList->setColumnCount(3);
    ui->typeList->setHeaderLabels({tr("Type"), QString(), tr("#")});
    ui->typeList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    std::map<std::string, Type*> types;
    ip_store->GetTypes(types);
    for (const auto& type : types)
        TypeRow(type.second);
    ui->typeList->sortItems(nameColumn, Qt::AscendingOrder);

    ui->itemList->sortItems(Qt::AscendingOrder);
    ui->itemList->setSortingEnabled(true);

    setAttribute(Qt::WA_DeleteOnClose);

    Listen(ip_store->itemAdded, this, &DataDialog::OnItemAdded);
    Listen(ip_store->itemRemoved, this, &DataDialog::OnItemRemoved);
}

DataDialog::~DataDialog()
{
    if (dataDialog == this)
        dataDialog = nullptr;
}

void DataDialog::OnItemAdded(ItemPtr i_item)
{
    ShowItemCount(i_item->type);
    if (i_item->type == selectedType)
        AddListRow(i_item);
}

void DataDialog::OnItemRemoved(ItemPtr i_item)
{
    ShowItemCount(i_item->type);
    auto listed = listRowsByItem.find(i_item);
    if (listed != listRowsByItem.end())
    {
        itemsByListRow.erase(listed->second);
        delete listed->second;
        listRowsByItem.erase(listed);
    }
    if (i_item == clickedItem)
        ClearTree();
    DeleteTreeNodes(i_item);
}

void DataDialog::OnTypeItemSelectionChanged()
{
    const QList<QTreeWidgetItem*> selected = ui->typeList->selectedItems();
    if (selected.isEmpty())
        return;
    selectedType = nullptr;
    listRowsByItem.clear();
    itemsByListRow.clear();
    ui->itemList->clear();
    ClearTree();

    auto name = typeNamesByRow.find(selected.first());
    if (name == typeNamesByRow.end())
        return;
    selectedType = store->GetType(name->second);
    // One sort at the end instead of a sorted insertion per row.
    ui->itemList->setSortingEnabled(false);
    selectedType->GetItems().ForEach([this](ItemPtr item) { AddListRow(item); });
    ui->itemList->sortItems(Qt::AscendingOrder);
    ui->itemList->setSortingEnabled(true);
}

void DataDialog::OnItemClicked(QListWidgetItem* ip_row)
{
    ClearTree();
    auto listed = itemsByListRow.find(ip_row);
    if (listed == itemsByListRow.end())
        return;
    clickedItem = listed->second;
    auto* root = new QTreeWidgetItem(ui->itemDataTree, QStringList(clickedItem.AsString()));
    AddItemSubnodes(clickedItem, root, {clickedItem->type});
    treeNodesByItem[clickedItem].insert(root);
    itemsByTreeNode[root] = clickedItem;
}

void DataDialog::AddItemSubnodes(ItemPtr i_item, QTreeWidgetItem* ip_node,
                                 std::set<Type*> i_skippedTypes)
{
    TypeItemsMap connections;
    i_item->GetConnectedItems(connections);
    for (const TypeItemsMap::Entry& entry : connections)
    {
        if (i_skippedTypes.count(entry.type))
            continue;
        entry.items.ForEach([this, ip_node](ItemPtr connected) {
            auto* child = new QTreeWidgetItem(ip_node, QStringList(NodeText(connected)));
            // The expander is a promise: the level is read only when it is opened.
            if (!connected->connections.Empty())
                new QTreeWidgetItem(child, QStringList(unloadedText));
            treeNodesByItem[connected].insert(child);
            itemsByTreeNode[child] = connected;
        });
        ip_node->setExpanded(true);
    }
}

void DataDialog::OnDataSubItemExpanded(QTreeWidgetItem* ip_node)
{
    if (ip_node->childCount() != 1 || itemsByTreeNode.count(ip_node->child(0)))
        return;
    delete ip_node->takeChild(0);
    auto shown = itemsByTreeNode.find(ip_node);
    if (shown == itemsByTreeNode.end())
        return;
    // Only the node's own type is left out, so the way back up can be opened again.
    const ItemPtr item = shown->second;
    AddItemSubnodes(item, ip_node, {item->type});
    ui->itemDataTree->setCurrentItem(ip_node);
}

QTreeWidgetItem* DataDialog::TypeRow(Type* ip_type)
{
    auto found = typeRowsByName.lower_bound(ip_type->name);
    if (found != typeRowsByName.end() && found->first == ip_type->name)
        return found->second;

    // Types declared after the browser opened get a row when their first item event arrives,
    // in its place by name.
    auto* row = new QTreeWidgetItem;
    row->setText(nameColumn, TypeName(ip_type));
    row->setText(kindColumn, ip_type->isNull ? "null   " : "value   ");
    row->setText(countColumn, QString::number(ip_type->ItemCount()));
    if (found == typeRowsByName.end())
        ui->typeList->addTopLevelItem(row);
    else
        ui->typeList->insertTopLevelItem(ui->typeList->indexOfTopLevelItem(found->second), row);
    typeRowsByName.emplace_hint(found, ip_type->name, row);
    typeNamesByRow[row] = ip_type->name;
    return row;
}

void DataDialog::ShowItemCount(Type* ip_type)
{
    TypeRow(ip_type)->setText(countColumn, QString::number(ip_type->ItemCount()));
}

void DataDialog::AddListRow(ItemPtr i_item)
{
    auto* row = new QListWidgetItem(ListText(i_item));
    ui->itemList->addItem(row);
    listRowsByItem[i_item] = row;
    itemsByListRow[row] = i_item;
}

void DataDialog::ClearTree()
{
    ui->itemDataTree->clear();
    treeNodesByItem.clear();
    itemsByTreeNode.clear();
    clickedItem = ItemPtr();
}

void DataDialog::DeleteTreeNodes(ItemPtr i_item)
{
    auto found = treeNodesByItem.find(i_item);
    if (found == treeNodesByItem.end())
        return;
    const std::set<QTreeWidgetItem*> nodes = std::move(found->second);
    treeNodesByItem.erase(found);
    // A node inside another one's subtree goes with that one; the outermost are picked before
    // any is deleted, since deleting one frees the nodes below it.
    std::vector<QTreeWidgetItem*> outermost;
    for (QTreeWidgetItem* node : nodes)
        if (!HasAncestorIn(node, nodes))
            outermost.push_back(node);
    for (QTreeWidgetItem* node : outermost)
    {
        ForgetSubtree(node);
        delete node;
    }
}

void DataDialog::ForgetSubtree(QTreeWidgetItem* ip_node)
{
    for (int child = 0; child < ip_node->childCount(); ++child)
        ForgetSubtree(ip_node->child(child));
    auto shown = itemsByTreeNode.find(ip_node);
    if (shown == itemsByTreeNode.end())
        return;
    auto nodesOfItem = treeNodesByItem.find(shown->second);
    if (nodesOfItem != treeNodesByItem.end())
    {
        nodesOfItem->second.erase(ip_node);
        if (nodesOfItem->second.empty())
            treeNodesByItem.erase(nodesOfItem);
    }
    itemsByTreeNode.erase(shown);
}
