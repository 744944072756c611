#include "ShareTreeForm.h"

#include <algorithm>
#include <unordered_set>

#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "ActionSetToolBar.h"
#include "BrowseTypes.h"
#include "ClosedTabRemoval.h"
#include "Data.h"
#include "ExtendedAsciiTranslator.h"
#include "FilterHelpDialog.h"
#include "FilterParser.h"
#include "FolderRowPlan.h"
#include "GeneralFunctions.h"
#include "Item.h"
#include "PeerTypes.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TreeWidgetItem.h"
#include "ViewAddress.h"

using namespace SharesTypes;

namespace {
enum FileColumn
{
    FileNameColumn = 0,
    FileSizeColumn = 1,
    FileAttributesColumn = 2,
};

ItemPtr NodeOf(const char* type, QTreeWidgetItem* row)
{
    if (!row)
        return ItemPtr();
    return d.GetType(type)->HasItem(Value(row));
}

} // namespace

ShareTreeForm::ShareTreeForm(const QString& user, QWidget* parent) : QWidget(parent), user(user)
{
    ViewAddress::Enter(this);
    sortingModel.SetColumnSortingNumeric(FileSizeColumn);
    sortingModel.SetColumnSortingNumeric(FileAttributesColumn);
}

ShareTreeForm::~ShareTreeForm()
{
    ForgetRows();
    ViewAddress::Leave(this);
}

void ShareTreeForm::ForgetRows()
{
    // The rows die with the form; no node item may outlive them and name a freed address.
    if (!folderTree)
        return;
    ForgetFileRows();
    for (QTreeWidgetItemIterator it(folderTree); *it; ++it)
    {
        ItemPtr node = NodeOf(BrowseTypes::folderNode, *it);
        if (!node.IsNull())
            node.Remove();
    }
}

void ShareTreeForm::ForgetFileRows()
{
    for (int index = 0; index < fileList->topLevelItemCount(); ++index)
    {
        ItemPtr node = NodeOf(BrowseTypes::fileNode, fileList->topLevelItem(index));
        if (!node.IsNull())
            node.Remove();
    }
}

QList<QTreeWidgetItem*> ShareTreeForm::TakeRows()
{
    QList<QTreeWidgetItem*> rows;
    if (!folderTree)
        return rows;
    ForgetRows();
    // The file list first: dropping the folder tree's current row would clear it in one pass.
    for (QTreeWidget* tree : {fileList, folderTree})
    {
        // The selection and the view's expanded rows are kept by persistent index, which the
        // model walks on every removal: dropped first, they cost one pass instead.
        tree->selectionModel()->clear();
        tree->reset();
        rows += tree->invisibleRootItem()->takeChildren();
    }
    return rows;
}

int ShareTreeForm::RemoveShareItems(ItemPtr share, int budget)
{
    Type* folderType = d.GetType(userShareFolder);
    Type* fileType = d.GetType(userShareFile);
    // The sets are looked up again after each removal, which may drop them.
    while (budget > 0)
    {
        const ItemSet* folders = share->connections.ItemsOf(folderType);
        if (!folders || folders->Empty())
        {
            ClosedTabRemoval::RemoveWithBareLeaves(share);
            return budget;
        }
        ItemPtr folder = *folders->Begin();
        for (const ItemSet* files = folder->connections.ItemsOf(fileType); files && !files->Empty();
             files = folder->connections.ItemsOf(fileType))
        {
            if (budget-- <= 0)
                return 0;
            ClosedTabRemoval::RemoveWithBareLeaves(*files->Begin());
        }
        folder.GetItems(userShareFolderParent).Remove();
        folder.GetItems(userShareFolderChild).Remove();
        ClosedTabRemoval::RemoveWithBareLeaves(folder);
        --budget;
    }
    return 0;
}

void ShareTreeForm::Close(ClosedTabRemoval& removal)
{
    QList<QTreeWidgetItem*> rows = TakeRows();
    ItemPtr gone = Delete();
    ClosedTabRemoval::StoreWork work;
    if (!gone.IsNull())
        work = [gone](int budget) { return RemoveShareItems(gone, budget); };
    removal.Add(std::move(work), rows);
    deleteLater();
}

void ShareTreeForm::SetUpTrees(QTreeWidget* folders, QTreeWidget* files, QLineEdit* filter,
                               QPushButton* filterHelp, const char* actionSet)
{
    folderTree = folders;
    fileList = files;
    filterEdit = filter;
    filterHelpButton = filterHelp;
    ShowTrees(false);
    // Rows of varying height make Qt lay every row out again on a change of one; peers choose
    // the names, so the rows' text is bounded too and the whole name is a tool tip.
    for (QTreeWidget* tree : {folderTree, fileList})
    {
        tree->setUniformRowHeights(true);
        tree->setTextElideMode(Qt::ElideMiddle);
        tree->viewport()->installEventFilter(this);
    }
    connect(filterHelpButton, &QPushButton::clicked, this,
            [this] { FilterHelpDialog::Open(this); });
    fileList->setSortingEnabled(true);
    fileList->sortByColumn(FileNameColumn, Qt::AscendingOrder);
    folderTree->setHeaderLabels({tr("Folder")});
    fileList->setHeaderLabels({tr("File"), tr("Size"), tr("Attributes")});
    fileList->setColumnWidth(FileNameColumn, 200);
    // Wide enough for a size of hundreds of megabytes written out.
    fileList->setColumnWidth(FileSizeColumn, 110);
    fileList->header()->setStretchLastSection(true);
    if (actionBar)
        actionBar->RegisterWidget(folderTree, actionSet);
    folderTree->setContextMenuPolicy(Qt::CustomContextMenu);
    fileList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(folderTree, &QTreeWidget::customContextMenuRequested, this,
            &ShareTreeForm::OnFolderContextMenuRequested);
    connect(fileList, &QTreeWidget::customContextMenuRequested, this,
            &ShareTreeForm::OnFileContextMenuRequested);
    connect(folderTree, &QTreeWidget::currentItemChanged, this,
            &ShareTreeForm::OnCurrentItemChanged);
    connect(filterEdit, &QLineEdit::textChanged, this, &ShareTreeForm::OnFilterTextChanged);
    connect(folderTree, &QTreeWidget::itemDoubleClicked, this,
            &ShareTreeForm::OnFolderDoubleClicked);
    connect(fileList, &QTreeWidget::itemDoubleClicked, this, &ShareTreeForm::OnFileDoubleClicked);
}

void ShareTreeForm::ShowTrees(bool shown)
{
    // The splitter goes too, so that a message alone has the whole tab.
    folderTree->parentWidget()->setVisible(shown);
    folderTree->setVisible(shown);
    fileList->setVisible(shown);
    filterEdit->setVisible(shown);
    filterHelpButton->setVisible(shown);
}

void ShareTreeForm::FillFolderTree(ItemPtr shownShare, bool ignoreCase)
{
    std::vector<ItemPtr> folders;
    std::vector<const std::string*> paths;
    for (ItemPtr folder : shownShare.GetItems(userShareFolder))
    {
        ItemPtr name = folder[userShareFolderName];
        if (name.IsNull())
            continue;
        folders.push_back(folder);
        paths.push_back(&name->value.Bytes());
    }
    const FolderRowPlan plan(paths, ignoreCase, maxRowDepth);

    folderTree->setUpdatesEnabled(false);
    // Rows of a share that was taken away meanwhile give way to the new one.
    ForgetRows();
    folderTree->clear();
    std::vector<QTreeWidgetItem*> rows(folders.size(), nullptr);
    Type* nodes = d.GetType(BrowseTypes::folderNode);
    for (const FolderRowPlan::Row& placed : plan.Rows())
    {
        const bool top = placed.parent < 0;
        QTreeWidgetItem* row =
            top ? new QTreeWidgetItem(folderTree) : new QTreeWidgetItem(rows[placed.parent]);
        row->setText(0, ShownText(ToQString(FolderRowPlan::NameBelow(
                            *paths[placed.folder], top ? nullptr : paths[placed.parent]))));
        rows[placed.folder] = row;
        ItemPtr(nodes->NewItem(Value(row))).Connect(folders[placed.folder]);
    }
    treeDepth = plan.Depth();
    if (Settings::IsYes(BrowseTypes::expandNewShares))
        folderTree->expandAll();
    folderTree->setUpdatesEnabled(true);
    expandLevel = 0;
}

QString ShareTreeForm::ShownText(const QString& name)
{
    return ShownName(name);
}

QString ShareTreeForm::FolderRowName(QTreeWidgetItem* row)
{
    ItemPtr name = FolderOf(row)[userShareFolderName];
    if (name.IsNull())
        return QString();
    ItemPtr parentName = FolderOf(row->parent())[userShareFolderName];
    const std::string* parentPath = parentName.IsNull() ? nullptr : &parentName->value.Bytes();
    return ToQString(FolderRowPlan::NameBelow(name->value.Bytes(), parentPath));
}

QString ShareTreeForm::FileRowName(QTreeWidgetItem* row)
{
    return FileOf(row)[userShareFileName].AsString();
}

bool ShareTreeForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::eventFilter(watched, event);
    const bool folders = watched == folderTree->viewport();
    QTreeWidget* tree = folders ? folderTree : fileList;
    auto* help = static_cast<QHelpEvent*>(event);
    QTreeWidgetItem* row = tree->itemAt(help->pos());
    const QString name = !row ? QString() : folders ? FolderRowName(row) : FileRowName(row);
    // Only a name cut short or marked needs one; the whole name is read from the store.
    if (ShownText(name) != name)
        QToolTip::showText(help->globalPos(), name, tree);
    else
        QToolTip::hideText();
    return true;
}

ItemPtr ShareTreeForm::FolderOf(QTreeWidgetItem* row)
{
    return NodeOf(BrowseTypes::folderNode, row)[userShareFolder];
}

ItemPtr ShareTreeForm::FileOf(QTreeWidgetItem* row)
{
    return NodeOf(BrowseTypes::fileNode, row)[userShareFile];
}

std::vector<ItemPtr> ShareTreeForm::FolderAndSubfolders(ItemPtr folder)
{
    std::vector<ItemPtr> walked;
    if (folder.IsNull())
        return walked;
    std::vector<ItemPtr> pending{folder};
    while (!pending.empty())
    {
        ItemPtr next = pending.back();
        pending.pop_back();
        walked.push_back(next);
        std::vector<ItemPtr> children;
        for (ItemPtr link : next.GetItems(userShareFolderChild).GetItems(userShareFolderParent))
            children.push_back(link[userShareFolder]);
        // Reversed onto the list, so that the first child is walked first.
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            if (!child->IsNull())
                pending.push_back(*child);
    }
    return walked;
}

void ShareTreeForm::ClearFileList()
{
    ForgetFileRows();
    fileList->clear();
}

void ShareTreeForm::OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem*)
{
    ClearFileList();
    ItemPtr folder = FolderOf(ip_current);
    if (folder.IsNull())
        return;
    // Words found in the names of the folder and its parents need not appear in its files.
    FilterParser filter;
    filter.Parse(filterEdit->text());
    for (QTreeWidgetItem* row = ip_current; row; row = row->parent())
    {
        FilterParser remainder;
        filter.IsMatching(FolderRowName(row), &remainder, ItemPtr());
        filter = remainder;
    }
    // Sorted once when the rows are in, not once per row.
    fileList->setSortingEnabled(false);
    Type* nodes = d.GetType(BrowseTypes::fileNode);
    for (ItemPtr file : folder.GetItems(userShareFile))
    {
        const QString name = ToQString(file[userShareFileName].AsStdString());
        if (filter.IsMatching(name, nullptr, file) != FilterParser::Matching)
            continue;
        auto* row = new TreeWidgetItem(fileList);
        row->setText(FileNameColumn, ShownText(name));
        row->setText(FileSizeColumn, CommafyNumber(file[PeerTypes::fileSize].AsInt64()));
        if (sharedFoldersManager)
            row->setText(FileAttributesColumn,
                         sharedFoldersManager->GetFileItemDisplayString(file));
        row->SetSortingModel(&sortingModel);
        ItemPtr(nodes->NewItem(Value(static_cast<QTreeWidgetItem*>(row)))).Connect(file);
    }
    fileList->setSortingEnabled(true);
}

void ShareTreeForm::OnFilterTextChanged(QString i_text)
{
    FilterParser filter;
    filter.Parse(i_text);
    folderTree->setUpdatesEnabled(false);
    for (int index = 0; index < folderTree->topLevelItemCount(); ++index)
        FilterFolderNode(folderTree->topLevelItem(index), filter);
    folderTree->setUpdatesEnabled(true);
    QTreeWidgetItem* current = folderTree->currentItem();
    if (!current)
        return;
    for (QTreeWidgetItem* row = current; row; row = row->parent())
    {
        if (row->isHidden())
        {
            ClearFileList();
            return;
        }
    }
    OnCurrentItemChanged(current, current);
}

bool ShareTreeForm::FilterFolderNode(QTreeWidgetItem* row, FilterParser& filter)
{
    FilterParser remainder;
    const int verdict = filter.IsMatching(FolderRowName(row), &remainder, ItemPtr());
    if (verdict == FilterParser::Rejected)
    {
        row->setHidden(true);
        return false;
    }
    bool visible = verdict == FilterParser::Matching && !remainder.HasAttributes() &&
                   remainder.MinFilesInFolder() == 0;
    if (!visible)
    {
        const int wanted = std::max(1, remainder.MinFilesInFolder());
        int matching = 0;
        for (ItemPtr file : FolderOf(row).GetItems(userShareFile))
        {
            const QString name = ToQString(file[userShareFileName].AsStdString());
            if (remainder.IsMatching(name, nullptr, file) == FilterParser::Matching &&
                ++matching >= wanted)
                break;
        }
        visible = matching >= wanted;
    }
    // Rows are at most maxRowDepth deep, so this recursion is bounded.
    for (int index = 0; index < row->childCount(); ++index)
        visible = FilterFolderNode(row->child(index), remainder) || visible;
    row->setHidden(!visible);
    return visible;
}

void ShareTreeForm::ExpandAll()
{
    folderTree->expandAll();
    expandLevel = 0;
    if (actionBar)
        actionBar->SetWidgetActionText(folderTree, "expand_level", tr("Expand Level"));
}

void ShareTreeForm::CollapseAll()
{
    folderTree->collapseAll();
    expandLevel = 0;
    if (actionBar)
        actionBar->SetWidgetActionText(folderTree, "expand_level", tr("Expand Level"));
}

void ShareTreeForm::ExpandLevel()
{
    if (expandLevel == treeDepth)
        return;
    folderTree->expandToDepth(expandLevel);
    ++expandLevel;
    if (actionBar)
        actionBar->SetWidgetActionText(folderTree, "expand_level",
                                       tr("Expand Level [%1]").arg(expandLevel));
}

QList<QTreeWidgetItem*> ShareTreeForm::SelectedFolders() const
{
    return folderTree->selectedItems();
}

QList<QTreeWidgetItem*> ShareTreeForm::SelectedFiles() const
{
    return fileList->selectedItems();
}

void ShareTreeForm::MarkFileRows(const std::vector<ItemPtr>& files, const char* icon)
{
    std::unordered_set<Item*> marked;
    for (ItemPtr file : files)
        marked.insert(file.Get());
    const QIcon shown(icon);
    for (int index = 0; index < fileList->topLevelItemCount(); ++index)
    {
        QTreeWidgetItem* row = fileList->topLevelItem(index);
        if (marked.count(FileOf(row).Get()) != 0)
            row->setIcon(FileNameColumn, shown);
    }
}

void ShareTreeForm::ActOnFolders(const QList<QTreeWidgetItem*>& rows)
{
    for (QTreeWidgetItem* row : rows)
    {
        ItemPtr folder = FolderOf(row);
        if (!folder.IsNull())
            HandFolder(folder);
    }
}

void ShareTreeForm::ActOnFiles(const QList<QTreeWidgetItem*>& rows)
{
    std::vector<ItemPtr> handed;
    for (QTreeWidgetItem* row : rows)
    {
        ItemPtr file = FileOf(row);
        if (file.IsNull())
            continue;
        HandFile(file);
        handed.push_back(file);
    }
    MarkFileRows(handed, HandedIcon());
}

void ShareTreeForm::OnFolderDoubleClicked(QTreeWidgetItem* ip_row, int)
{
    if (ip_row)
        ActOnFolders({ip_row});
}

void ShareTreeForm::OnFileDoubleClicked(QTreeWidgetItem* ip_row, int)
{
    if (ip_row)
        ActOnFiles({ip_row});
}

void ShareTreeForm::OnFolderContextMenuRequested(QPoint i_position)
{
    if (!folderTree->itemAt(i_position))
        return;
    QMenu menu;
    menu.addAction(QIcon(":/icons/transfer_icon"), FolderActionText(),
                   [this] { ActOnFolders(SelectedFolders()); });
    menu.exec(folderTree->viewport()->mapToGlobal(i_position));
}

void ShareTreeForm::OnFileContextMenuRequested(QPoint i_position)
{
    QMenu menu;
    menu.addAction(QIcon(":/icons/transfer_icon"), FileActionText(),
                   [this] { ActOnFiles(SelectedFiles()); });
    menu.exec(fileList->viewport()->mapToGlobal(i_position));
}
