#pragma once

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QDateTime>
#include <QPoint>
#include <QString>
#include <QWidget>

#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"

struct ConnectionInfo;
class EntryRemoval;
class Item;
class QKeyEvent;
class QMenu;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class Ui_TransfersForm;

// The Transfers tab: the download and upload queues of the transfer engine as two trees of user,
// folder and file rows. Every row is tied to a node item whose value is the row's address, so
// that handlers go from an entry to its row and back without searching the trees.
class TransfersForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum Column
    {
        UserColumn,
        FolderColumn,
        FileColumn,
        StatusColumn,
        ProgressColumn,
        TimeLeftColumn,
        SpeedColumn,
        SizeColumn,
        PlaceColumn,
    };

    // What differs between the two trees: the engine's types and the form's node types.
    struct Tree
    {
        const char* entry;
        const char* status;
        const char* userNode;
        const char* folderNode;
        const char* fileNode;
        const char* folder;
        const char* runningWord;
        const char* position;
    };
    static const Tree downloads;
    static const Tree uploads;

    explicit TransfersForm(QWidget* parent = nullptr);
    ~TransfersForm() override;

    void Init();
    void DataLoaded() override;
    Ui_TransfersForm* Form() const { return ui; }

    // Store handlers.
    void OnDownloadEntryAdded(ItemPtr entry);
    void OnUploadEntryAdded(ItemPtr entry);
    void OnDownloadEntryRemoved(ItemPtr entry);
    void OnUploadEntryRemoved(ItemPtr entry);
    void OnDownloadPlaceInLine(ItemPtr entry);
    void OnDownloadEntryStatusChange(ConnectionInfo& info);
    void OnUploadEntryStatusChange(ConnectionInfo& info);
    void OnDownloadDenialReason(ConnectionInfo& info);
    void OnUploadDenialReason(ConnectionInfo& info);

    // Row lookups: the user row of any row, and the entries a row stands for.
    QTreeWidgetItem* GetDownloadNodeUserNode(QTreeWidgetItem* row);
    QTreeWidgetItem* GetUploadNodeUserNode(QTreeWidgetItem* row);
    ItemSet GetNodeDownloadEntryItems(QTreeWidgetItem* row);
    ItemSet GetNodeUploadEntryItems(QTreeWidgetItem* row);
    // The file row of an entry, or null.
    QTreeWidgetItem* EntryRow(const Tree& tree, ItemPtr entry) const;

    // Progress sums and the combined status of a set of entries.
    void GetDownloadsProgressStats(ItemSet& entries, long long& done, long long& remaining,
                                   long long& total);
    void GetUploadsProgressStats(ItemSet& entries, long long& done, long long& remaining,
                                 long long& total);
    QString GetDownloadEntriesAggregateStatus(ItemSet& entries);
    QString GetUploadEntriesAggregateStatus(ItemSet& entries);
    void SetItemColorByStatus(QTreeWidgetItem* row, QString status);

    void DeleteSelectedDownloads();
    void DeleteSelectedUploads();
    // The one removal of chosen transfers, whichever key or menu asks for it: the selection is
    // cleared and the first slice runs at once, the rest on later passes.
    void RemoveDownloads(const ItemSet& entries);
    void RemoveUploads(const ItemSet& entries);
    // Makes the removals still pending now; the window calls it before it saves the store,
    // while the engine still runs.
    void FinishRemovals();

    // Fills a right-click menu for the selected rows; the returned objects carry out the
    // entries and must live while the menu runs. The menu stays empty when nothing is chosen.
    std::vector<std::unique_ptr<QObject>> FillDownloadsMenu(QMenu* menu);
    std::vector<std::unique_ptr<QObject>> FillUploadsMenu(QMenu* menu);

    // The half-minute clearing, with its notion of now given.
    void EveryHalfMinuteAt(const QDateTime& now);
    // Empties the time left and speed of transfers that received nothing since the last call;
    // a timer calls it every few seconds.
    void ClearStalledTimes();

signals:
    void DownloadComplete(ItemPtr i_entry);

public slots:
    void OnUserOnline(ItemPtr user);
    void OnUserOffline(ItemPtr user);
    void OnTransfersLoaded();
    void OnItemExpanded(QTreeWidgetItem* row);
    void OnItemCollapsed(QTreeWidgetItem* row);
    void OnCurrentTabChanged(int index);
    void OnDownloadProgress(ItemPtr entry);
    void OnUploadProgress(ItemPtr entry);
    void RecolorEntries();
    void UpdateActiveTransferCounts();
    void OnActionBarTriggered(QWidget* widget, QString action);
    void OnUploadSlotsSpinValueChanged(int value);
    void OnUploadSpeedLimitSpinValueChanged(int value);
    void OnUploadSpeedLimitCheckStateChanged(int state);
    void OnClearDownloadsCheckStateChanged(int state);
    void OnClearUploadsCheckStateChanged(int state);
    void OnKeyPressedInDownloadList(QKeyEvent* event);
    void OnKeyPressedInUploadList(QKeyEvent* event);
    void OnDownloadListItemDoubleClicked(QTreeWidgetItem* row, int column);
    void OnDownloadComplete(ItemPtr entry);
    void EveryHalfMinute();
    void OnDownloadsContextMenuRequested(QPoint point);
    void OnUploadsContextMenuRequested(QPoint point);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitUploadControls();
    void DeclareTypes();
    void RegisterHandlers();
    void AddToolBarActions();
    void ConnectControls();

    // Rows.
    QTreeWidget* TreeOf(const Tree& tree) const;
    QTreeWidgetItem* UserRow(const Tree& tree, ItemPtr user, bool expand);
    // Returns a user row taken out for a removal to its tree, expanded as a new one would be.
    void BringBack(const Tree& tree, QTreeWidgetItem* userRow);
    QTreeWidgetItem* FolderRow(const Tree& tree, QTreeWidgetItem* userRow, ItemPtr folder,
                               bool expand);
    // Makes the file row of the entry, or moves and refreshes the row it has.
    QTreeWidgetItem* PlaceEntryRow(const Tree& tree, ItemPtr entry, ItemPtr user, ItemPtr folder);
    void RemoveEntryRow(const Tree& tree, ItemPtr entry);
    void RemoveGroupAlerts(ItemPtr entry);
    QTreeWidgetItem* UserRowOf(const Tree& tree, QTreeWidgetItem* row);
    ItemSet EntriesOf(const Tree& tree, QTreeWidgetItem* row);
    bool IsGroupRow(const Tree& tree, QTreeWidgetItem* row) const;
    void SetUserIcon(const Tree& tree, ItemPtr user, bool online);

    // Cells.
    void ShowProgress(const Tree& tree, ItemPtr entry);
    bool ShowGroupProgress(const Tree& tree, QTreeWidgetItem* row, bool showSpeed);
    void SetProgress(QTreeWidgetItem* row, long long done, double percent);
    void DropProgressBar(QTreeWidgetItem* row);
    void ShowStatusChange(const Tree& tree, ItemPtr entry, ItemPtr status);
    void ShowGroupStatus(const Tree& tree, QTreeWidgetItem* row);
    // Progress, time left and speed of a group row from its entries that count now; the speed
    // is that of the entries still receiving.
    void ShowGroupFigures(const Tree& tree, QTreeWidgetItem* row, const ItemSet& entries);
    long long ReceivingSpeed(const Tree& tree, const ItemSet& entries) const;
    void ClearRunningCells(QTreeWidgetItem* row);
    void ShowDenialReason(const Tree& tree, ItemPtr entry);
    void ScheduleRefresh();
    void Refresh();
    void ProgressStats(const Tree& tree, const ItemSet& entries, long long& done,
                       long long& remaining, long long& total);
    QString AggregateStatus(const Tree& tree, const ItemSet& entries);

    // Commands.
    void ToggleExpand(QTreeWidget* tree, bool& flag, const char* action, const char* text,
                      bool folders);
    // Who asks for a removal: the user's choice of rows (the selection goes with them), a
    // clearing by command or timer (the selection of rows that stay is kept), or one completed
    // download, which waits for the next pass so that thousands completing stay in slices.
    enum class Removal
    {
        Chosen,
        Cleared,
        Completed,
    };
    // Hands the entries to the engine for removal, a slice per pass.
    void RemoveEntries(const Tree& tree, const ItemSet& entries, Removal origin);
    // Takes out of the tree the user rows whose entries all go, so that the tree does not
    // walk its rows for each one; they are freed as their last entry goes.
    void TakeUserRows(const Tree& tree, const ItemSet& entries);
    void BringBackTakenRows();
    ItemSet SelectedEntries(const Tree& tree);
    void AddSelectedUsersToList();
    void ShowCompleteDownloads();
    void ClearCompleteAndAbortedUploads(const QDateTime& now);
    void ToggleFinishUploadsAndQuit();
    void AnnounceCompletion(ItemPtr entry);
    std::vector<std::unique_ptr<QObject>> FillMenu(const Tree& tree, QMenu* menu);
    void OpenContextMenu(QTreeWidget* tree, QMenu& menu, QPoint point);

    Ui_TransfersForm* ui;
    bool transfersLoaded = false;
    // Group rows whose combined status is due, with their trees; taken up once per pass of the
    // event loop, so that thousands of status changes stay linear.
    std::vector<std::pair<QTreeWidgetItem*, const Tree*>> staleGroups;
    bool refreshScheduled = false;
    bool expandDownloadFolders = true;
    bool expandDownloadUsers = true;
    bool expandUploadFolders = true;
    bool expandUploadUsers = true;
    // Downloads whose completion is queued for OnDownloadComplete; an entry removed meanwhile
    // leaves the set, so that its handle is never used after the item is gone.
    std::unordered_set<Item*> pendingCompletions;
    // Entries whose file row shows a time left, with their tree and the bytes done when last
    // looked at.
    struct Timed
    {
        const Tree* tree;
        long long done;
    };
    std::unordered_map<Item*, Timed> timed;
    QTimer* stallTimer = nullptr;
    // Children of the form, named "downloadRemoval" and "uploadRemoval".
    EntryRemoval* downloadRemoval = nullptr;
    EntryRemoval* uploadRemoval = nullptr;
    // User rows out of their tree for a removal, until they are freed with their last entry or
    // brought back by a new one; those still out when the removals finish are brought back.
    std::unordered_set<QTreeWidgetItem*> takenRows;
};

extern TransfersForm* transfersForm;
