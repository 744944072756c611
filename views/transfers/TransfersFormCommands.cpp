#include "TransfersForm.h"

#include <QKeyEvent>

#include "ActionSetToolBar.h"
#include "CompleteDownloadsForm.h"
#include "Data.h"
#include "EntryRemoval.h"
#include "EventToolBar.h"
#include "ExtendedAsciiTranslator.h"
#include "GeneralFunctions.h"
#include "LocalPath.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "TransferQueueManager.h"
#include "TransferRow.h"
#include "TransferTypes.h"
#include "TransfersViewTypes.h"
#include "ui_TransfersForm.h"

using namespace TransfersViewTypes;

namespace {
// A change time in the engine's text format; invalid when absent or unreadable.
QDateTime TimeOf(ItemPtr item)
{
    if (item.IsNull())
        return QDateTime();
    return QDateTime::fromString(item.AsString(), Qt::TextDate);
}

// The time of the last receipt is a live cell of the engine, holding the address of its clock.
QDateTime ReceiptTime(ItemPtr cell)
{
    const QDateTime* time = cell.IsNull() ? nullptr : cell.AsPointer<QDateTime>();
    return time ? *time : QDateTime();
}

bool IsActive(ItemPtr status)
{
    return !status.IsNull() && status.IsConnected(TransferTypes::isActive);
}

void Announce(const QString& text, QWidget* widget, const QString& trayMessage)
{
    if (eventToolBar)
        eventToolBar->AddEvent(text, ":/icons/download_icon", widget, trayMessage, "download",
                               false);
}

ItemSet Unfinished(const ItemSet& entries)
{
    return entries.NotConnected(TransferTypes::downloadEntryStatus,
                                Value(TransferStatus::complete));
}
} // namespace

void TransfersForm::OnActionBarTriggered(QWidget*, QString action)
{
    if (action == "remove_download")
        DeleteSelectedDownloads();
    else if (action == "dl_add_user")
        AddSelectedUsersToList();
    else if (action == "expand_download_folders")
        ToggleExpand(ui->downloadsList, expandDownloadFolders, "expand_download_folders",
                     "Expand Folders", true);
    else if (action == "expand_download_users")
        ToggleExpand(ui->downloadsList, expandDownloadUsers, "expand_download_users",
                     "Expand Users", false);
    else if (action == "expand_upload_folders")
        ToggleExpand(ui->uploadsList, expandUploadFolders, "expand_upload_folders",
                     "Expand Folders", true);
    else if (action == "expand_upload_users")
        ToggleExpand(ui->uploadsList, expandUploadUsers, "expand_upload_users", "Expand Users",
                     false);
    else if (action == "complete_downloads")
        ShowCompleteDownloads();
    else if (action == "clear_complete_downloads")
        RemoveEntries(
            downloads,
            g(TransferTypes::downloadEntry)
                .Connected(TransferTypes::downloadEntryStatus, Value(TransferStatus::complete)),
            Removal::Cleared);
    else if (action == "clear_complete_and_aborted_uploads")
        ClearCompleteAndAbortedUploads(QDateTime::currentDateTime());
    else if (action == "finish_uploads_and_quit")
        ToggleFinishUploadsAndQuit();
}

void TransfersForm::ToggleExpand(QTreeWidget* tree, bool& flag, const char* action,
                                 const char* text, bool folders)
{
    flag = !flag;
    if (actionBar)
        actionBar->SetWidgetActionText(tree, action,
                                       QString("%1 [%2]").arg(tr(text), flag ? "on" : "off"));
    for (int index = 0; index < tree->topLevelItemCount(); ++index)
    {
        QTreeWidgetItem* userRow = tree->topLevelItem(index);
        if (!folders)
            userRow->setExpanded(flag);
        else
            for (int child = 0; child < userRow->childCount(); ++child)
                userRow->child(child)->setExpanded(flag);
    }
}

void TransfersForm::RemoveEntries(const Tree& tree, const ItemSet& entries, Removal origin)
{
    if (!transferQueueManager || entries.Empty())
        return;
    EntryRemoval* removal = &tree == &downloads ? downloadRemoval : uploadRemoval;
    removal->Add(entries);
    // Completions come thousands a pass, one entry each: a walk of the tree per call would make
    // them quadratic.
    if (origin == Removal::Completed)
        return;
    // The rows chosen are mostly the selection: rows taken out while selected cost the
    // selection model a walk each.
    if (origin == Removal::Chosen)
        TreeOf(tree)->clearSelection();
    TakeUserRows(tree, entries);
    removal->Step();
}

void TransfersForm::TakeUserRows(const Tree& tree, const ItemSet& entries)
{
    // Each row the tree lets go walks the indexes of all expanded rows: a user row whose
    // entries all go leaves the tree at once, and its rows are freed outside it as they go.
    QTreeWidget* view = TreeOf(tree);
    for (int index = view->topLevelItemCount() - 1; index >= 0; --index)
    {
        const ItemSet under = EntriesOf(tree, view->topLevelItem(index));
        bool allChosen = !under.Empty();
        for (auto entry = under.begin(); allChosen && entry != under.end(); ++entry)
            allChosen = entries.Contains(*entry);
        if (allChosen)
            takenRows.insert(view->takeTopLevelItem(index));
    }
}

// A row still out has entries the engine did not remove (it was gone): they keep their rows, and
// the tree frees them with itself.
void TransfersForm::BringBackTakenRows()
{
    const std::unordered_set<QTreeWidgetItem*> rows = std::move(takenRows);
    takenRows.clear();
    for (QTreeWidgetItem* row : rows)
        BringBack(TransferRow::NodeOf(row, downloads.userNode).IsNull() ? uploads : downloads, row);
}

void TransfersForm::FinishRemovals()
{
    for (EntryRemoval* removal : {downloadRemoval, uploadRemoval})
        if (removal)
            removal->Finish();
    BringBackTakenRows();
}

void TransfersForm::ClearCompleteAndAbortedUploads(const QDateTime& now)
{
    using namespace TransferTypes;
    ItemSet finished;
    ItemSet stale;
    for (ItemPtr entry : g(uploadEntry))
    {
        ItemPtr status = entry[uploadEntryStatus];
        if (status.AsString() != TransferStatus::queued)
        {
            if (!IsActive(status))
                finished.Insert(entry);
            continue;
        }
        ItemPtr user = entry[ServerTypes::user];
        const QDateTime change = TimeOf(user[ServerTypes::lastOnlineStatusChange]);
        if (!user.IsConnected(ServerTypes::isOnline) && change.isValid() &&
            change.secsTo(now) > 299)
            stale.Insert(entry);
    }
    finished.Add(stale);
    RemoveEntries(uploads, finished, Removal::Cleared);
}

void TransfersForm::ToggleFinishUploadsAndQuit()
{
    using TransferSettings::finishUploadsAndQuit;
    const bool on = Settings::GetText(finishUploadsAndQuit, Settings::runtime) != "yes";
    Settings::Set(finishUploadsAndQuit, Value(on ? "yes" : "no"), Settings::runtime);
    if (actionBar)
        actionBar->SetWidgetActionText(ui->uploadsList, "finish_uploads_and_quit",
                                       on ? tr("Finish Uploads and Quit [on]")
                                          : tr("Finish Uploads and Quit [off]"));
}

void TransfersForm::AddSelectedUsersToList()
{
    for (QTreeWidgetItem* row : ui->downloadsList->selectedItems())
    {
        ItemPtr user =
            TransferRow::NodeOf(UserRowOf(downloads, row), downloads.userNode)[ServerTypes::user];
        if (!user.IsNull() && !user.IsConnected(ServerTypes::inUserList))
            user.NewItem(ServerTypes::inUserList);
    }
}

void TransfersForm::ShowCompleteDownloads()
{
    if (!completeDownloadsForm)
    {
        auto* form = new CompleteDownloadsForm(this);
        ui->transfersTabControl->addTab(form, tr("Complete"));
        form->Init();
    }
    // Showing a page of a tab control means making it the current one; a page merely set
    // visible would be drawn over the current page.
    ui->transfersTabControl->setCurrentWidget(completeDownloadsForm);
}

void TransfersForm::OnUploadSlotsSpinValueChanged(int value)
{
    if (transferQueueManager)
        transferQueueManager->SetUploadSlots(value);
}

void TransfersForm::OnUploadSpeedLimitSpinValueChanged(int value)
{
    // Ticking or clearing the box runs its own handler first.
    ui->uploadLimitCheckBox->setChecked(value != 0);
    if (transferQueueManager)
        transferQueueManager->SetUploadSpeedLimit(value);
}

void TransfersForm::OnUploadSpeedLimitCheckStateChanged(int state)
{
    if (state == Qt::PartiallyChecked || !transferQueueManager)
        return;
    transferQueueManager->EnableUploadSpeedLimit(state == Qt::Checked);
}

namespace {
void SetClearing(const char* key, int state)
{
    if (state == Qt::Checked)
        Settings::Set(key, Value("yes"));
    else if (state == Qt::Unchecked)
        Settings::Clear(key);
}
} // namespace

void TransfersForm::OnClearDownloadsCheckStateChanged(int state)
{
    SetClearing(clearCompleteDownloads, state);
}

void TransfersForm::OnClearUploadsCheckStateChanged(int state)
{
    SetClearing(clearCompleteAbortedUploads, state);
}

ItemSet TransfersForm::SelectedEntries(const Tree& tree)
{
    ItemSet entries;
    for (QTreeWidgetItem* row : TreeOf(tree)->selectedItems())
        entries.Add(EntriesOf(tree, row));
    return entries;
}

void TransfersForm::DeleteSelectedDownloads()
{
    RemoveDownloads(SelectedEntries(downloads));
}

void TransfersForm::DeleteSelectedUploads()
{
    RemoveUploads(SelectedEntries(uploads));
}

void TransfersForm::RemoveDownloads(const ItemSet& entries)
{
    RemoveEntries(downloads, entries, Removal::Chosen);
}

void TransfersForm::RemoveUploads(const ItemSet& entries)
{
    RemoveEntries(uploads, entries, Removal::Chosen);
}

void TransfersForm::OnKeyPressedInDownloadList(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete)
        DeleteSelectedDownloads();
}

void TransfersForm::OnKeyPressedInUploadList(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete)
        DeleteSelectedUploads();
}

void TransfersForm::OnDownloadListItemDoubleClicked(QTreeWidgetItem* row, int)
{
    ItemPtr entry = TransferRow::NodeOf(row, downloads.fileNode)[TransferTypes::downloadEntry];
    if (entry.IsNull() || !transferQueueManager)
        return;
    OpenLocalPath(transferQueueManager->GetDownloadTargetPath(entry, true));
}

void TransfersForm::OnDownloadComplete(ItemPtr entry)
{
    // Removed meanwhile (deleted or cleared): the handle may already name a freed item.
    if (pendingCompletions.erase(entry.Get()) == 0)
        return;
    AnnounceCompletion(entry);
    // Thousands may complete in one pass: their removals go in slices.
    if (Settings::IsYes(clearCompleteDownloads))
        RemoveEntries(downloads, ItemSet(entry), Removal::Completed);
}

void TransfersForm::AnnounceCompletion(ItemPtr entry)
{
    using namespace TransferTypes;
    QWidget* list = ui->downloadsList;
    ItemPtr user = entry[ServerTypes::user];
    ItemPtr folder = entry[remoteFolder];

    if (ItemPtr alert = entry[completeDownloadAlert]; !alert.IsNull())
    {
        const QString name = ShownName(entry[fileName].AsString());
        Announce(name, list, tr("Download of file %1 complete").arg(name));
        if (QTreeWidgetItem* row = EntryRow(downloads, entry))
            row->setIcon(FileColumn, QIcon());
        alert.Remove();
    }

    if (user.IsNull() || folder.IsNull())
        return;
    ItemPtr folderAlert = d.GetItem(user, folder, completeDownloadAlert);
    if (!folderAlert.IsNull() && Unfinished(folder.GetItems(downloadEntry).Connected(user)).Empty())
    {
        const QString name = ShownName(ToQString(GetFileName(folder.AsStdString())));
        Announce(name, list, tr("Download of folder %1 complete").arg(name));
        ItemPtr node = d.GetItem(user[downloads.userNode], folder, downloads.folderNode);
        if (QTreeWidgetItem* row = TransferRow::Of(node))
            row->setIcon(FolderColumn, QIcon());
        folderAlert.Remove();
    }

    ItemSet userAlerts = user.GetItems(completeDownloadAlert).NotConnected(remoteFolder);
    if (!userAlerts.Empty() && Unfinished(user.GetItems(downloadEntry)).Empty())
    {
        const QString name = ShownName(user.AsString());
        Announce(name, list, tr("All download from user %1 complete").arg(name));
        if (QTreeWidgetItem* row = TransferRow::Of(user[downloads.userNode]))
            row->setIcon(UserColumn, QIcon());
        userAlerts.Remove();
    }
}

void TransfersForm::EveryHalfMinute()
{
    EveryHalfMinuteAt(QDateTime::currentDateTime());
}

void TransfersForm::EveryHalfMinuteAt(const QDateTime& now)
{
    using namespace TransferTypes;
    if (!Settings::IsYes(clearCompleteAbortedUploads))
        return;
    ItemSet stale;
    for (ItemPtr entry : g(uploadEntry).Connected(uploadEntryStatus, Value(TransferStatus::queued)))
    {
        ItemPtr user = entry[ServerTypes::user];
        const QDateTime wentOffline = TimeOf(user[ServerTypes::lastOnlineStatusChange]);
        if (user.IsConnected(ServerTypes::isOnline) || !wentOffline.isValid() ||
            wentOffline.secsTo(now) < 300)
            continue;
        QDateTime lastChange = TimeOf(entry[lastStatusChangeTime]);
        const QDateTime receipt = ReceiptTime(entry[lastReceiptTime]);
        if (receipt.isValid() && (!lastChange.isValid() || receipt > lastChange))
            lastChange = receipt;
        if (lastChange.isValid() && lastChange.secsTo(now) > 299)
            stale.Insert(entry);
    }
    RemoveEntries(uploads, stale, Removal::Cleared);
}
