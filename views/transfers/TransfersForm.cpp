#include "TransfersForm.h"

#include <QEvent>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMetaObject>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "ActionSetToolBar.h"
#include "CachedIcon.h"
#include "ConnectionInfo.h"
#include "Data.h"
#include "DataSaver.h"
#include "EntryRemoval.h"
#include "GeneralFunctions.h"
#include "PathNode.h"
#include "PeerTypes.h"
#include "ProgressDelegate.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTypes.h"
#include "SizeManager.h"
#include "TabFocus.h"
#include "TimerManager.h"
#include "TransferQueueManager.h"
#include "TransferRow.h"
#include "TransferText.h"
#include "TransferTypes.h"
#include "TransfersViewTypes.h"
#include "TypeTable.h"
#include "ui_TransfersForm.h"

using namespace TransfersViewTypes;

TransfersForm* transfersForm = nullptr;

const TransfersForm::Tree TransfersForm::downloads{TransferTypes::downloadEntry,
                                                   TransferTypes::downloadEntryStatus,
                                                   downloadListUserNode,
                                                   downloadListFolderNode,
                                                   downloadListNode,
                                                   TransferTypes::remoteFolder,
                                                   TransferStatus::downloading,
                                                   TransferTypes::writePosition};
const TransfersForm::Tree TransfersForm::uploads{TransferTypes::uploadEntry,
                                                 TransferTypes::uploadEntryStatus,
                                                 uploadListUserNode,
                                                 uploadListFolderNode,
                                                 uploadListNode,
                                                 SharesTypes::sharedFileFolder,
                                                 TransferStatus::uploading,
                                                 TransferTypes::readPosition};

namespace {
using TypeTable::RelationRow;
using TypeTable::TypeRow;

const TypeRow downloadNodeTypes[] = {
    {downloadListUserNode, PrimacyRoot, false},
    {downloadListFolderNode, PrimacyRoot, false},
    {downloadListNode, PrimacyRoot, false},
};
const RelationRow downloadNodeRelations[] = {
    {downloadListUserNode, ServerTypes::user, One, One},
    {downloadListUserNode, downloadListFolderNode, Many, One},
    {downloadListFolderNode, TransferTypes::remoteFolder, One, Many},
    {downloadListFolderNode, downloadListNode, Many, One},
    {downloadListNode, TransferTypes::downloadEntry, One, One},
};
const TypeRow uploadNodeTypes[] = {
    {uploadListUserNode, PrimacyRoot, false},
    {uploadListFolderNode, PrimacyRoot, false},
    {uploadListNode, PrimacyRoot, false},
};
const RelationRow uploadNodeRelations[] = {
    {uploadListUserNode, ServerTypes::user, One, One},
    {uploadListUserNode, uploadListFolderNode, Many, One},
    {uploadListFolderNode, SharesTypes::sharedFileFolder, One, Many},
    {uploadListFolderNode, uploadListNode, Many, One},
    {uploadListNode, TransferTypes::uploadEntry, One, One},
};
const TypeRow alertTypes[] = {{completeDownloadAlert, PrimacyRoot, true}};
const RelationRow alertRelations[] = {
    {completeDownloadAlert, TransferTypes::downloadEntry, One, One},
    {completeDownloadAlert, ServerTypes::user, One, Many},
    {completeDownloadAlert, TransferTypes::remoteFolder, One, Many},
};

const ActionSetToolBar::SetAction toolBarActions[] = {
    {"downloads", "expand_download_folders", "Expand Folders", ":/icons/folder_icon"},
    {"downloads", "expand_download_users", "Expand Users", ":/icons/users_icon"},
    {"downloads", "clear_complete_downloads", "Clear Complete", ":/icons/wipe_icon"},
    // Without it the list of completed downloads could not be opened at all.
    {"downloads", "complete_downloads", "Completed Downloads", ":/icons/downloads_icon"},
    {"uploads", "expand_upload_folders", "Expand Folders", ":/icons/folder_icon"},
    {"uploads", "expand_upload_users", "Expand Users", ":/icons/users_icon"},
    {"uploads", "clear_complete_and_aborted_uploads", "Clear Complete and Aborted",
     ":/icons/wipe_icon"},
    {"uploads", "finish_uploads_and_quit", "Finish Uploads and Quit [off]",
     ":/icons/shutdown_icon"},
};

const char* const headers[] = {"User",   "Folder", "File", "Status", "Progress",
                               "   ETA", "Kbs",    "Size", "Place"};
// Wide enough for "downloading", "   1h:2m:5s" and "3,072,000" in the desktop's
// usual font; the user's own widths, once changed, are kept by the size manager.
const int widths[] = {100, 150, 200, 120, 140, 85, 50, 100, 50};

void SetUpColumns(QTreeWidget* tree, int count)
{
    QStringList labels;
    for (int column = 0; column < count; ++column)
        labels << TransfersForm::tr(headers[column]);
    tree->setColumnCount(count);
    tree->setHeaderLabels(labels);
    for (int column = 0; column < count; ++column)
        tree->setColumnWidth(column, widths[column]);
    tree->header()->setSectionsMovable(false);
    tree->setSortingEnabled(false);
    // Rows of one height: otherwise every cell change walks Qt's layout of all rows.
    tree->setUniformRowHeights(true);
    tree->setItemDelegateForColumn(TransfersForm::ProgressColumn, new ProgressDelegate(tree));
}

PathNode* PathOf(const char* root, std::initializer_list<const char*> steps,
                 PathNodeRelation relation)
{
    auto* node = new PathNode(&d, root);
    for (const char* step : steps)
        new PathNode(node, step, relation);
    return node;
}

} // namespace

TransfersForm::TransfersForm(QWidget* parent) : QWidget(parent), ui(new Ui_TransfersForm)
{
    transfersForm = this;
    ui->setupUi(this);
    connect(ui->transfersTabControl, &QTabWidget::currentChanged, this,
            &TransfersForm::OnCurrentTabChanged);
    connect(ui->downloadsList, &QTreeWidget::customContextMenuRequested, this,
            &TransfersForm::OnDownloadsContextMenuRequested);
    connect(ui->uploadsList, &QTreeWidget::customContextMenuRequested, this,
            &TransfersForm::OnUploadsContextMenuRequested);
    SetUpColumns(ui->downloadsList, PlaceColumn + 1);
    SetUpColumns(ui->uploadsList, PlaceColumn);
    TransferText::AddNameTips(ui->downloadsList, downloads);
    TransferText::AddNameTips(ui->uploadsList, uploads);
    ui->uploadsList->header()->setStretchLastSection(false);
    connect(ui->downloadsList, &QTreeWidget::itemDoubleClicked, this,
            &TransfersForm::OnDownloadListItemDoubleClicked);
    connect(ui->downloadsList, &TreeWidget::KeyPressed, this,
            &TransfersForm::OnKeyPressedInDownloadList);
    connect(ui->uploadsList, &TreeWidget::KeyPressed, this,
            &TransfersForm::OnKeyPressedInUploadList);
    layout()->setContentsMargins(0, 0, 0, 0);
    // Seen through, so that the controls sit on the page like the downloads' row.
    ui->uploadControlsArea->viewport()->setAutoFillBackground(false);
    ui->uploadControls->setAutoFillBackground(false);
    ui->uploadControlsArea->installEventFilter(this);
    FitUploadControls();
}

// The upload controls are wider than a narrow window: they scroll instead of making the whole
// window wider, and take the scroll bar's height only while it shows.
bool TransfersForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->uploadControlsArea && event->type() == QEvent::Resize)
        FitUploadControls();
    return QWidget::eventFilter(watched, event);
}

void TransfersForm::FitUploadControls()
{
    QScrollArea* area = ui->uploadControlsArea;
    const bool scrolls = area->width() < ui->uploadControls->minimumSizeHint().width();
    area->setFixedHeight(ui->uploadControls->sizeHint().height() +
                         (scrolls ? area->horizontalScrollBar()->sizeHint().height() : 0));
}

TransfersForm::~TransfersForm()
{
    // Removals chosen but not yet made are made, while the form is still whole; then the rows go.
    // The window has made them before saving; without an engine they are left in the store.
    FinishRemovals();
    delete ui;
    if (transfersForm == this)
        transfersForm = nullptr;
}

void TransfersForm::Init()
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    DeclareTypes();
    downloadRemoval = new EntryRemoval(ui->downloadsList, downloads.entry,
                                       &TransferQueueManager::RemoveDownload, this);
    downloadRemoval->setObjectName("downloadRemoval");
    uploadRemoval =
        new EntryRemoval(ui->uploadsList, uploads.entry, &TransferQueueManager::RemoveUpload, this);
    uploadRemoval->setObjectName("uploadRemoval");
    RegisterHandlers();
    AddToolBarActions();
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    for (QTreeWidget* tree :
         {static_cast<QTreeWidget*>(ui->downloadsList), static_cast<QTreeWidget*>(ui->uploadsList)})
    {
        connect(tree, &QTreeWidget::itemExpanded, this, &TransfersForm::OnItemExpanded);
        connect(tree, &QTreeWidget::itemCollapsed, this, &TransfersForm::OnItemCollapsed);
        RegisterWidgetForTabFocus(tree, 1);
    }
    ui->downloadsList->setFocus();
    if (timerManager)
        connect(&timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &TransfersForm::EveryHalfMinute);
    connect(this, &TransfersForm::DownloadComplete, this, &TransfersForm::OnDownloadComplete,
            Qt::QueuedConnection);
    // Long enough for a slow transfer to report some bytes between two looks.
    stallTimer = new QTimer(this);
    stallTimer->setInterval(5000);
    connect(stallTimer, &QTimer::timeout, this, &TransfersForm::ClearStalledTimes);
    stallTimer->start();
    UpdateActiveTransferCounts();
}

void TransfersForm::DeclareTypes()
{
    // A form made again in the same run (tests, benchmarks) finds its types declared.
    if (d.HasType(downloadListUserNode))
        return;
    TypeTable::Declare(d, downloadNodeTypes, downloadNodeRelations);
    TypeTable::Declare(d, uploadNodeTypes, uploadNodeRelations);
    TypeTable::Declare(d, alertTypes, alertRelations);
}

void TransfersForm::RegisterHandlers()
{
    using namespace TransferTypes;
    d.AddPathHandler(PathOf(downloadEntry,
                            {ServerTypes::user, fileName, PeerTypes::fileSize, remoteFolder},
                            PathRequired),
                     this, &TransfersForm::OnDownloadEntryAdded);
    d.AddConnectionHandler(d.GetType(downloadEntry), d.GetType(downloadEntryStatus), this,
                           &TransfersForm::OnDownloadEntryStatusChange);
    d.AddConnectionHandler(d.GetType(uploadEntry), d.GetType(uploadEntryStatus), this,
                           &TransfersForm::OnUploadEntryStatusChange);
    d.AddConnectionHandler(d.GetType(downloadEntry), d.GetType(denialReason), this,
                           &TransfersForm::OnDownloadDenialReason);
    d.AddConnectionHandler(d.GetType(uploadEntry), d.GetType(denialReason), this,
                           &TransfersForm::OnUploadDenialReason);
    connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, this,
            &TransfersForm::OnDownloadProgress);
    connect(transferQueueManager, &TransferQueueManager::UploadProgressed, this,
            &TransfersForm::OnUploadProgress);
    d.AddPathHandler(
        PathOf(uploadEntry, {ServerTypes::user, SharesTypes::sharedFile}, PathRequired), this,
        &TransfersForm::OnUploadEntryAdded);
    transfersLoaded = false;
    connect(transferQueueManager, &TransferQueueManager::TransfersLoaded, this,
            &TransfersForm::OnTransfersLoaded);
    Listen(d.GetType(downloadEntry)->itemRemoved, this, &TransfersForm::OnDownloadEntryRemoved);
    Listen(d.GetType(uploadEntry)->itemRemoved, this, &TransfersForm::OnUploadEntryRemoved);
    d.AddPathHandler(PathOf(ServerTypes::user, {ServerTypes::isOnline}, PathOnConnect), this,
                     &TransfersForm::OnUserOnline);
    d.AddPathHandler(PathOf(ServerTypes::user, {ServerTypes::isOnline}, PathOnDisconnect), this,
                     &TransfersForm::OnUserOffline);
    d.AddPathHandler(PathOf(downloadEntry, {placeInLine}, PathRequired), this,
                     &TransfersForm::OnDownloadPlaceInLine);
}

void TransfersForm::AddToolBarActions()
{
    if (!actionBar)
        return;
    for (const ActionSetToolBar::SetAction& action : toolBarActions)
        actionBar->AddSetAction(action);
    actionBar->RegisterWidget(ui->downloadsList, "downloads");
    actionBar->RegisterWidget(ui->uploadsList, "uploads");
    actionBar->SetWidgetActionText(ui->downloadsList, "expand_download_folders",
                                   tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(ui->downloadsList, "expand_download_users",
                                   tr("Expand Users [on]"));
    actionBar->SetWidgetActionText(ui->uploadsList, "expand_upload_folders",
                                   tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(ui->uploadsList, "expand_upload_users", tr("Expand Users [on]"));
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
            &TransfersForm::OnActionBarTriggered);
}

void TransfersForm::DataLoaded()
{
    using namespace TransferSettings;
    ui->uploadLimitSpinBox->setValue(Settings::Get(uploadSpeedLimit).AsInt());
    ui->uploadSlotsSpinBox->setValue(Settings::Get(uploadSlots).AsInt());
    ui->uploadLimitCheckBox->setChecked(Settings::IsYes(uploadSpeedLimitEnabled));
    ui->clearDownloadsCheckBox->setChecked(
        Settings::IsYes(TransfersViewTypes::clearCompleteDownloads));
    ui->clearUploadsCheckBox->setChecked(
        Settings::IsYes(TransfersViewTypes::clearCompleteAbortedUploads));
    ConnectControls();
    if (sizeManager)
    {
        sizeManager->RegisterTreeWidget("download_list", ui->downloadsList);
        sizeManager->RegisterTreeWidget("upload_list", ui->uploadsList);
    }
}

// Made only after the stored values are in the controls, so that loading writes nothing back.
void TransfersForm::ConnectControls()
{
    connect(ui->uploadLimitSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TransfersForm::OnUploadSpeedLimitSpinValueChanged);
    connect(ui->uploadLimitCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnUploadSpeedLimitCheckStateChanged);
    connect(ui->clearDownloadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearDownloadsCheckStateChanged);
    connect(ui->clearUploadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearUploadsCheckStateChanged);
    connect(ui->uploadSlotsSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TransfersForm::OnUploadSlotsSpinValueChanged);
}

QTreeWidget* TransfersForm::TreeOf(const Tree& tree) const
{
    if (&tree == &downloads)
        return ui->downloadsList;
    return ui->uploadsList;
}

QTreeWidgetItem* TransfersForm::EntryRow(const Tree& tree, ItemPtr entry) const
{
    return TransferRow::Of(entry[tree.fileNode]);
}

void TransfersForm::SetUserIcon(const Tree& tree, ItemPtr user, bool online)
{
    QTreeWidgetItem* row = TransferRow::Of(user[tree.userNode]);
    if (row)
        row->setIcon(UserColumn,
                     CachedIcon(online ? ":/icons/online_icon" : ":/icons/offline_icon"));
}

QTreeWidgetItem* TransfersForm::UserRow(const Tree& tree, ItemPtr user, bool expand)
{
    ItemPtr node = user[tree.userNode];
    if (QTreeWidgetItem* row = TransferRow::Of(node))
    {
        // Taken out for a removal still under way: a new entry brings it back into view.
        if (!row->treeWidget())
        {
            takenRows.erase(row);
            BringBack(tree, row);
        }
        return row;
    }
    if (!node.IsNull())
        node.Remove();
    auto* row = new TransferRow(TreeOf(tree));
    user.Connect(d.GetType(tree.userNode)->GetItem(TransferRow::Address(row)));
    TransferText::SetName(row, UserColumn, TransferText::UserName(user));
    SetUserIcon(tree, user, user.IsConnected(ServerTypes::isOnline));
    row->setExpanded(expand);
    return row;
}

void TransfersForm::BringBack(const Tree& tree, QTreeWidgetItem* userRow)
{
    TreeOf(tree)->addTopLevelItem(userRow);
    // The tree forgot which of these rows it showed expanded when it let them go.
    const bool downloading = &tree == &downloads;
    userRow->setExpanded(downloading ? expandDownloadUsers : expandUploadUsers);
    for (int child = 0; child < userRow->childCount(); ++child)
        userRow->child(child)->setExpanded(downloading ? expandDownloadFolders
                                                       : expandUploadFolders);
}

QTreeWidgetItem* TransfersForm::FolderRow(const Tree& tree, QTreeWidgetItem* userRow,
                                          ItemPtr folder, bool expand)
{
    ItemPtr userNode = TransferRow::NodeOf(userRow, tree.userNode);
    ItemPtr node = d.GetItem(userNode, folder, tree.folderNode);
    if (QTreeWidgetItem* row = TransferRow::Of(node))
        return row;
    auto* row = new TransferRow(userRow);
    node = d.GetType(tree.folderNode)->GetItem(TransferRow::Address(row));
    node.Connect(userNode);
    node.Connect(folder);
    TransferText::SetName(row, FolderColumn, TransferText::FolderName(folder));
    row->setExpanded(expand);
    return row;
}

QTreeWidgetItem* TransfersForm::PlaceEntryRow(const Tree& tree, ItemPtr entry, ItemPtr user,
                                              ItemPtr folder)
{
    // An attribute connected anew: the row stays where it is when its groups still fit, and
    // otherwise moves, so that an entry never has two rows nor leaves an empty group behind.
    if (QTreeWidgetItem* row = EntryRow(tree, entry))
    {
        ItemPtr folderNode = TransferRow::NodeOf(row->parent(), tree.folderNode);
        ItemPtr userNode = TransferRow::NodeOf(row->parent()->parent(), tree.userNode);
        if (folderNode.IsConnected(folder) && userNode.IsConnected(user))
            return row;
        RemoveEntryRow(tree, entry);
    }
    const bool downloading = &tree == &downloads;
    QTreeWidgetItem* userRow =
        UserRow(tree, user, downloading ? expandDownloadUsers : expandUploadUsers);
    QTreeWidgetItem* folderRow =
        FolderRow(tree, userRow, folder, downloading ? expandDownloadFolders : expandUploadFolders);
    auto* row = new TransferRow(folderRow);
    ItemPtr node = d.GetType(tree.fileNode)->GetItem(TransferRow::Address(row));
    entry.Disconnect(tree.fileNode);
    entry.Connect(node);
    node.Connect(TransferRow::NodeOf(folderRow, tree.folderNode));
    return row;
}

void TransfersForm::OnDownloadEntryAdded(ItemPtr entry)
{
    if (!transfersLoaded)
        return;
    using namespace TransferTypes;
    QTreeWidgetItem* row =
        PlaceEntryRow(downloads, entry, entry[ServerTypes::user], entry[remoteFolder]);
    TransferText::SetName(row, FileColumn, TransferText::DownloadFileName(entry));
    row->setText(SizeColumn, CommafyNumber(entry[PeerTypes::fileSize].AsInt64()));
    ItemPtr status = entry[downloadEntryStatus];
    if (!status.IsNull())
    {
        ConnectionInfo change{entry, status};
        OnDownloadEntryStatusChange(change);
    }
}

void TransfersForm::OnUploadEntryAdded(ItemPtr entry)
{
    using namespace SharesTypes;
    ItemPtr file = entry[sharedFile];
    ItemPtr folder = file[sharedFileFolder];
    // A shared file not yet in a folder has no place in the tree until it is.
    if (folder.IsNull())
        return;
    QTreeWidgetItem* row = PlaceEntryRow(uploads, entry, entry[ServerTypes::user], folder);
    TransferText::SetName(row, FileColumn, TransferText::UploadFileName(file));
    row->setText(SizeColumn, CommafyNumber(file[sharedFileSize].AsInt64()));
    ItemPtr status = entry[uploads.status];
    if (!status.IsNull())
        ShowStatusChange(uploads, entry, status);
}

void TransfersForm::OnTransfersLoaded()
{
    transfersLoaded = true;
    for (ItemPtr entry :
         g(TransferTypes::downloadEntry).SortNumericBy(TransferTypes::downloadOrder, true))
        OnDownloadEntryAdded(entry);
}

void TransfersForm::RemoveEntryRow(const Tree& tree, ItemPtr entry)
{
    ItemPtr node = entry[tree.fileNode];
    QTreeWidgetItem* row = TransferRow::Of(node);
    if (!node.IsNull())
        node.Remove();
    if (!row)
        return;
    QTreeWidgetItem* folderRow = row->parent();
    QTreeWidgetItem* userRow = folderRow->parent();
    delete row;
    // The groups left read the entries left; taken up after the pass, as status changes are.
    staleGroups.emplace_back(folderRow, &tree);
    staleGroups.emplace_back(userRow, &tree);
    if (folderRow->childCount() == 0)
    {
        TransferRow::NodeOf(folderRow, tree.folderNode).Remove();
        delete folderRow;
        if (userRow->childCount() == 0)
        {
            TransferRow::NodeOf(userRow, tree.userNode).Remove();
            takenRows.erase(userRow);
            delete userRow;
            return;
        }
    }
    if (userRow->childCount() == 1)
    {
        DropProgressBar(userRow);
        userRow->setText(TimeLeftColumn, QString());
    }
}

void TransfersForm::OnDownloadEntryRemoved(ItemPtr entry)
{
    pendingCompletions.erase(entry.Get());
    timed.erase(entry.Get());
    // A file alert watches this entry alone; it would otherwise outlive it in the store.
    if (ItemPtr alert = entry[completeDownloadAlert]; !alert.IsNull())
        alert.Remove();
    RemoveGroupAlerts(entry);
    RemoveEntryRow(downloads, entry);
    ScheduleRefresh();
}

// A folder or user alert watches downloads that no longer exist once the last of them goes: it
// would keep the menu from offering it for new ones, and announce them without being asked.
void TransfersForm::RemoveGroupAlerts(ItemPtr entry)
{
    using TransferTypes::downloadEntry;
    ItemPtr user = entry[ServerTypes::user];
    if (user.IsNull() || !user.IsConnected(completeDownloadAlert))
        return;
    auto othersLeft = [&entry](const ItemSet& entries) {
        return entries.Size() > (entries.Contains(entry) ? 1u : 0u);
    };
    ItemPtr folder = entry[TransferTypes::remoteFolder];
    if (!folder.IsNull() && !othersLeft(folder.GetItems(downloadEntry).Connected(user)))
        if (ItemPtr alert = d.GetItem(user, folder, completeDownloadAlert); !alert.IsNull())
            alert.Remove();
    if (!othersLeft(user.GetItems(downloadEntry)))
        user.GetItems(completeDownloadAlert).Remove();
}

void TransfersForm::OnUploadEntryRemoved(ItemPtr entry)
{
    timed.erase(entry.Get());
    RemoveEntryRow(uploads, entry);
    ScheduleRefresh();
}

bool TransfersForm::IsGroupRow(const Tree& tree, QTreeWidgetItem* row) const
{
    return !TransferRow::NodeOf(row, tree.userNode).IsNull() ||
           !TransferRow::NodeOf(row, tree.folderNode).IsNull();
}

void TransfersForm::OnItemCollapsed(QTreeWidgetItem* row)
{
    for (const Tree* tree : {&downloads, &uploads})
        if (row->treeWidget() == TreeOf(*tree) && IsGroupRow(*tree, row))
        {
            ItemSet entries = EntriesOf(*tree, row);
            row->setText(StatusColumn, AggregateStatus(*tree, entries));
        }
}

void TransfersForm::OnItemExpanded(QTreeWidgetItem* row)
{
    for (const Tree* tree : {&downloads, &uploads})
        if (row->treeWidget() == TreeOf(*tree) && IsGroupRow(*tree, row))
        {
            for (Column column : {StatusColumn, TimeLeftColumn, SpeedColumn})
                row->setText(column, QString());
            DropProgressBar(row);
        }
}

void TransfersForm::OnCurrentTabChanged(int)
{}

void TransfersForm::OnUserOnline(ItemPtr user)
{
    SetUserIcon(downloads, user, true);
    SetUserIcon(uploads, user, true);
}

void TransfersForm::OnUserOffline(ItemPtr user)
{
    SetUserIcon(downloads, user, false);
    SetUserIcon(uploads, user, false);
}

void TransfersForm::OnDownloadPlaceInLine(ItemPtr entry)
{
    if (QTreeWidgetItem* row = EntryRow(downloads, entry))
        row->setText(PlaceColumn, entry[TransferTypes::placeInLine].AsString());
}

QTreeWidgetItem* TransfersForm::UserRowOf(const Tree& tree, QTreeWidgetItem* row)
{
    if (!row)
        return nullptr;
    if (!TransferRow::NodeOf(row, tree.userNode).IsNull())
        return row;
    if (!TransferRow::NodeOf(row, tree.folderNode).IsNull())
        return row->parent();
    if (!TransferRow::NodeOf(row, tree.fileNode).IsNull() && row->parent())
        return row->parent()->parent();
    return nullptr;
}

ItemSet TransfersForm::EntriesOf(const Tree& tree, QTreeWidgetItem* row)
{
    ItemSet entries;
    auto addFolder = [&](ItemPtr folder) {
        for (ItemPtr file : folder.GetItems(tree.fileNode))
            if (ItemPtr entry = file[tree.entry]; !entry.IsNull())
                entries.Insert(entry);
    };
    if (ItemPtr user = TransferRow::NodeOf(row, tree.userNode); !user.IsNull())
    {
        for (ItemPtr folder : user.GetItems(tree.folderNode))
            addFolder(folder);
    }
    else if (ItemPtr folder = TransferRow::NodeOf(row, tree.folderNode); !folder.IsNull())
        addFolder(folder);
    else if (ItemPtr entry = TransferRow::NodeOf(row, tree.fileNode)[tree.entry]; !entry.IsNull())
        entries.Insert(entry);
    return entries;
}

QTreeWidgetItem* TransfersForm::GetDownloadNodeUserNode(QTreeWidgetItem* row)
{
    return UserRowOf(downloads, row);
}

QTreeWidgetItem* TransfersForm::GetUploadNodeUserNode(QTreeWidgetItem* row)
{
    return UserRowOf(uploads, row);
}

ItemSet TransfersForm::GetNodeDownloadEntryItems(QTreeWidgetItem* row)
{
    return EntriesOf(downloads, row);
}

ItemSet TransfersForm::GetNodeUploadEntryItems(QTreeWidgetItem* row)
{
    return EntriesOf(uploads, row);
}
