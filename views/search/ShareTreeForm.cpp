#include "ShareTreeForm.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
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
#include "NameTips.h"
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

// The whole name of a folder row that shows it altered: the name itself, or, when too long to
// keep, false, and the name is decoded from the store.
constexpr int wholeNameRole = Qt::UserRole;

// A folder row on the filter's way down: the criteria its children must still meet and whether
// it is shown so far.
struct FilterFrame
{
    QTreeWidgetItem* row;
    FilterParser remainder;
    int nextChild;
    bool visible;
};

ItemPtr NodeOf(const char* type, QTreeWidgetItem* row)
{
    if (!row)
        return ItemPtr();
    return d.GetType(type)->HasItem(Value(row));
}

void SetFolderRowName(QTreeWidgetItem* row, const QString& name)
{
    const QString shown = ShownName(name);
    row->setText(0, shown);
    if (shown != name)
        row->setData(0, wholeNameRole,
                     name.size() <= ShareTreeForm::keptNameLength ? QVariant(name)
                                                                  : QVariant(false));
}

// Matches the row's name and, when the name alone does not show it, its files. A row the filter
// rejects is hidden with its children left as they are; any other goes on the walk. Returns the
// work done.
qint64 EnterFilterRow(QTreeWidgetItem* row, const FilterParser& filter,
                      std::vector<FilterFrame>& frames)
{
    const QString name = ShareTreeForm::FolderRowName(row);
    qint64 work = ShareTreeForm::rowCost + name.size();
    FilterParser remainder;
    const int verdict = filter.IsMatching(name, &remainder, ItemPtr());
    if (verdict == FilterParser::Rejected)
    {
        row->setHidden(true);
        return work;
    }
    bool visible = verdict == FilterParser::Matching && !remainder.HasAttributes() &&
                   remainder.MinFilesInFolder() == 0;
    if (!visible)
    {
        const int wanted = std::max(1, remainder.MinFilesInFolder());
        int matching = 0;
        for (ItemPtr file : ShareTreeForm::FolderOf(row).GetItems(userShareFile))
        {
            const QString fileName = ToQString(file[userShareFileName].AsStdString());
            work += ShareTreeForm::rowCost + fileName.size();
            if (remainder.IsMatching(fileName, nullptr, file) == FilterParser::Matching &&
                ++matching >= wanted)
                break;
        }
        visible = matching >= wanted;
    }
    frames.push_back({row, remainder, 0, visible});
    return work;
}
// For each folder, the index of the folder it hangs from in the store, as the share was made
// with it; -1 for none.
std::vector<int> ListedAncestors(const std::vector<ItemPtr>& folders)
{
    std::unordered_map<Item*, int> indexes;
    indexes.reserve(folders.size());
    for (size_t index = 0; index < folders.size(); ++index)
        indexes.emplace(folders[index].Get(), int(index));
    std::vector<int> anchors(folders.size(), -1);
    for (size_t index = 0; index < folders.size(); ++index)
    {
        ItemPtr parent =
            folders[index][userShareFolderParent][userShareFolderChild][userShareFolder];
        const auto found = indexes.find(parent.Get());
        if (found != indexes.end())
            anchors[index] = found->second;
    }
    return anchors;
}
} // namespace

// The rows still to make, in the plan's order; the paths are the store's own bytes.
struct ShareTreeForm::FolderFill
{
    std::vector<ItemPtr> folders;
    std::vector<const std::string*> paths;
    bool ignoreCase = false;
    // Made in the first slice.
    std::optional<FolderRowPlan> plan;
    std::vector<QTreeWidgetItem*> rows;
    size_t next = 0;
};

// The whole-tree filter under way: depth first, the rows entered and not yet left on a list of
// their own.
struct ShareTreeForm::FilterWalk
{
    FilterParser filter;
    int nextTop = 0;
    std::vector<FilterFrame> frames;
};

ShareTreeForm::ShareTreeForm(const QString& user, QWidget* parent) : QWidget(parent), user(user)
{
    ViewAddress::Enter(this);
    sortingModel.SetColumnSortingNumeric(FileSizeColumn);
    sortingModel.SetColumnSortingNumeric(FileAttributesColumn);
    sliceTimer.setSingleShot(true);
    sliceTimer.setInterval(0);
    connect(&sliceTimer, &QTimer::timeout, this, &ShareTreeForm::OnSliceTimer);
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
    StopFill();
    StopFilter();
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
    }
    // The whole name is read from the store when a tip is asked for.
    new NameTips(folderTree, [](QTreeWidgetItem* row, int column) {
        return column == 0 ? FolderRowName(row) : QString();
    });
    new NameTips(fileList, [](QTreeWidgetItem* row, int column) {
        return column == FileNameColumn ? FileRowName(row) : QString();
    });
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
    StopFill();
    StopFilter();
    // Rows of a share that was taken away meanwhile give way to the new one.
    folderTree->setUpdatesEnabled(false);
    ForgetRows();
    folderTree->clear();
    folderTree->setUpdatesEnabled(true);
    treeDepth = 0;
    expandLevel = 0;
    size_t bytes = 0;
    for (const std::string* path : paths)
        bytes += path->size();
    fill = std::make_unique<FolderFill>();
    fill->folders = std::move(folders);
    fill->paths = std::move(paths);
    fill->ignoreCase = ignoreCase;
    fill->rows.resize(fill->folders.size(), nullptr);
    // Ordering long paths takes a while: that comes in a pass of its own, after the one that
    // brought the list.
    if (bytes > size_t(sliceBudget))
        sliceTimer.start();
    else
        FillSlice();
}

void ShareTreeForm::FillSlice()
{
    if (!fill->plan)
        fill->plan.emplace(fill->paths, ListedAncestors(fill->folders), fill->ignoreCase,
                           maxRowDepth);
    const std::vector<FolderRowPlan::Row>& planned = fill->plan->Rows();
    Type* nodes = d.GetType(BrowseTypes::folderNode);
    folderTree->setUpdatesEnabled(false);
    for (qint64 budget = sliceBudget; budget > 0 && fill->next < planned.size(); ++fill->next)
    {
        const FolderRowPlan::Row& placed = planned[fill->next];
        const std::string* parentPath = placed.parent < 0 ? nullptr : fill->paths[placed.parent];
        const QString name =
            ToQString(FolderRowPlan::NameBelow(*fill->paths[placed.folder], parentPath));
        // Named before it joins the tree, so that the view hears of it once.
        auto* row = new QTreeWidgetItem;
        SetFolderRowName(row, name);
        if (placed.parent < 0)
            folderTree->addTopLevelItem(row);
        else
            fill->rows[placed.parent]->addChild(row);
        fill->rows[placed.folder] = row;
        ItemPtr(nodes->NewItem(Value(row))).Connect(fill->folders[placed.folder]);
        budget -= rowCost + name.size();
    }
    if (fill->next < planned.size())
    {
        folderTree->setUpdatesEnabled(true);
        sliceTimer.start();
        return;
    }
    treeDepth = fill->plan->Depth();
    fill.reset();
    if (Settings::IsYes(BrowseTypes::expandNewShares))
        folderTree->expandAll();
    folderTree->setUpdatesEnabled(true);
    expandLevel = 0;
    FolderTreeFilled();
    // A filter typed while the rows were made applies to all of them now; the file list of a
    // folder made current above follows it.
    if (!filterEdit->text().isEmpty())
        OnFilterTextChanged(filterEdit->text());
}

void ShareTreeForm::StopFill()
{
    fill.reset();
    if (!filterWalk)
        sliceTimer.stop();
}

void ShareTreeForm::StopFilter()
{
    filterWalk.reset();
    if (!fill)
        sliceTimer.stop();
}

void ShareTreeForm::OnSliceTimer()
{
    if (fill)
        FillSlice();
    else if (filterWalk)
        FilterSlice();
}

QString ShareTreeForm::FolderRowName(QTreeWidgetItem* row)
{
    const QVariant kept = row->data(0, wholeNameRole);
    if (!kept.isValid())
        return row->text(0);
    if (kept.type() == QVariant::String)
        return kept.toString();
    ItemPtr name = FolderOf(row)[userShareFolderName];
    if (name.IsNull())
        return QString();
    ItemPtr parentName = FolderOf(row->parent())[userShareFolderName];
    const std::string* parentPath = parentName.IsNull() ? nullptr : &parentName->value.Bytes();
    return ToQString(FolderRowPlan::NameBelow(name->value.Bytes(), parentPath));
}

QString ShareTreeForm::FileRowName(QTreeWidgetItem* row)
{
    return ToQString(FileOf(row)[userShareFileName].AsStdString());
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
        row->setText(FileNameColumn, ShownName(name));
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
    StopFilter();
    // The fill applies the text it ends with.
    if (fill)
        return;
    filterWalk = std::make_unique<FilterWalk>();
    filterWalk->filter.Parse(i_text);
    FilterSlice();
}

void ShareTreeForm::FilterSlice()
{
    FilterWalk& walk = *filterWalk;
    std::vector<FilterFrame>& frames = walk.frames;
    auto done = [&] { return frames.empty() && walk.nextTop >= folderTree->topLevelItemCount(); };
    folderTree->setUpdatesEnabled(false);
    for (qint64 budget = sliceBudget; budget > 0 && !done();)
    {
        if (frames.empty())
        {
            budget -= EnterFilterRow(folderTree->topLevelItem(walk.nextTop++), walk.filter, frames);
            continue;
        }
        FilterFrame& frame = frames.back();
        if (frame.nextChild < frame.row->childCount())
        {
            QTreeWidgetItem* child = frame.row->child(frame.nextChild++);
            // A copy: entering the child may move the frame.
            const FilterParser remainder = frame.remainder;
            budget -= EnterFilterRow(child, remainder, frames);
            continue;
        }
        // A row is shown when it is on its own or any child is.
        frame.row->setHidden(!frame.visible);
        const bool visible = frame.visible;
        frames.pop_back();
        if (visible && !frames.empty())
            frames.back().visible = true;
    }
    folderTree->setUpdatesEnabled(true);
    if (!done())
    {
        sliceTimer.start();
        return;
    }
    filterWalk.reset();
    AfterFilter();
}

void ShareTreeForm::AfterFilter()
{
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
