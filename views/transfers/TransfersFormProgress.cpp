#include "TransfersForm.h"

#include <QTabWidget>
#include <QTreeWidget>

#include "ConnectionInfo.h"
#include "Data.h"
#include "PeerTypes.h"
#include "ProgressDelegate.h"
#include "Settings.h"
#include "SharesTypes.h"
#include "TabFocus.h"
#include "TransferQueueManager.h"
#include "TransferRow.h"
#include "TransferText.h"
#include "TransferTypes.h"
#include "TransfersViewTypes.h"

using namespace TransfersViewTypes;

namespace {
// The engine keeps live readings in cells: items whose value is the address of the number its
// transfer thread updates. A missing cell reads as 0.
template <class T> long long Live(ItemPtr cell)
{
    const T* value = cell.IsNull() ? nullptr : cell.AsPointer<T>();
    return value ? static_cast<long long>(*value) : 0;
}

long long Size(const TransfersForm::Tree& tree, ItemPtr entry)
{
    if (&tree == &TransfersForm::downloads)
        return entry[PeerTypes::fileSize].AsInt64();
    return entry[SharesTypes::sharedFile][SharesTypes::sharedFileSize].AsInt64();
}

long long Done(const TransfersForm::Tree& tree, ItemPtr entry)
{
    return Live<qint64>(entry[tree.position]);
}

long long Speed(ItemPtr entry)
{
    return Live<int>(entry[TransferTypes::bytesPerSecond]);
}

bool IsComplete(const TransfersForm::Tree& tree, ItemPtr entry)
{
    return entry[tree.status].AsString() == TransferStatus::complete;
}

const char* ColourKey(const QString& status)
{
    using namespace TransferStatus;
    if (status == complete)
        return colorComplete;
    if (status == downloading || status == uploading || status == connecting)
        return colorInProgress;
    if (status == queued)
        return colorQueued;
    if (status == denied || status == aborted || status == localError)
        return colorFailed;
    return colorOther;
}
} // namespace

void TransfersForm::DropProgressBar(QTreeWidgetItem* row)
{
    ProgressDelegate::Clear(row, ProgressColumn);
}

void TransfersForm::SetProgress(QTreeWidgetItem* row, long long done, double percent)
{
    ProgressDelegate::Set(row, ProgressColumn, TransferText::Progress(done, percent),
                          static_cast<int>(percent));
}

void TransfersForm::OnDownloadProgress(ItemPtr entry)
{
    ShowProgress(downloads, entry);
}

void TransfersForm::OnUploadProgress(ItemPtr entry)
{
    ShowProgress(uploads, entry);
}

void TransfersForm::ShowProgress(const Tree& tree, ItemPtr entry)
{
    QTreeWidgetItem* row = EntryRow(tree, entry);
    if (!row)
        return;
    QTreeWidgetItem* folderRow = row->parent();
    QTreeWidgetItem* userRow = folderRow->parent();
    const long long done = Done(tree, entry);
    const long long size = Size(tree, entry);
    const long long speed = Speed(entry);
    SetProgress(row, done, TransferText::Percent(done, size, IsComplete(tree, entry)));
    const QString timeLeft = TransferText::TimeLeft(size - done, speed);
    row->setText(TimeLeftColumn, timeLeft);
    // Watched until bytes stop arriving; the engine says nothing while a transfer stalls.
    if (timeLeft.isEmpty())
        timed.erase(entry.Get());
    else
        timed[entry.Get()] = {&tree, done};

    // The innermost row the user sees; a group shows the speed of all its entries receiving.
    QTreeWidgetItem* shown = !userRow->isExpanded()     ? userRow
                             : !folderRow->isExpanded() ? folderRow
                                                        : row;
    if (shown == row)
        row->setText(SpeedColumn, TransferText::Speed(speed));
    // A user with nothing counted has a folder with nothing counted: it gets its speed only.
    const bool userGroup = !userRow->isExpanded() || userRow->childCount() > 1;
    if (userGroup && !ShowGroupProgress(tree, userRow, shown == userRow) && shown != folderRow)
        return;
    ShowGroupProgress(tree, folderRow, shown == folderRow);
}

bool TransfersForm::ShowGroupProgress(const Tree& tree, QTreeWidgetItem* row, bool showSpeed)
{
    // One walk of a group's entries per figure: a collapsed user may hold thousands.
    const ItemSet entries = EntriesOf(tree, row);
    const long long speed = ReceivingSpeed(tree, entries);
    if (showSpeed)
        row->setText(SpeedColumn, TransferText::Speed(speed));
    long long done = 0;
    long long remaining = 0;
    long long total = 0;
    ProgressStats(tree, entries, done, remaining, total);
    if (total == 0)
        return false;
    row->setText(TimeLeftColumn, TransferText::TimeLeft(remaining, speed));
    SetProgress(row, done, TransferText::Percent(done, total, false));
    return true;
}

// Entries the engine reports bytes for and that have not stalled since.
long long TransfersForm::ReceivingSpeed(const Tree& tree, const ItemSet& entries) const
{
    long long speed = 0;
    for (ItemPtr entry : entries)
        if (timed.count(entry.Get()) != 0 && entry[tree.status].AsString() == tree.runningWord)
            speed += Speed(entry);
    return speed;
}

void TransfersForm::ClearStalledTimes()
{
    for (auto watched = timed.begin(); watched != timed.end();)
    {
        auto& [tree, done] = watched->second;
        ItemPtr entry(watched->first);
        const long long now = Done(*tree, entry);
        if (now != done)
        {
            done = now;
            ++watched;
            continue;
        }
        // Its groups go on with the entries that still receive.
        if (QTreeWidgetItem* row = EntryRow(*tree, entry))
        {
            ClearRunningCells(row);
            staleGroups.emplace_back(row->parent(), tree);
            staleGroups.emplace_back(row->parent()->parent(), tree);
            ScheduleRefresh();
        }
        watched = timed.erase(watched);
    }
}

void TransfersForm::ClearRunningCells(QTreeWidgetItem* row)
{
    for (Column column : {TimeLeftColumn, SpeedColumn})
        if (!row->text(column).isEmpty())
            row->setText(column, QString());
}

void TransfersForm::ProgressStats(const Tree& tree, const ItemSet& entries, long long& done,
                                  long long& remaining, long long& total)
{
    using namespace TransferStatus;
    done = 0;
    remaining = 0;
    total = 0;
    for (ItemPtr entry : entries)
    {
        const QString status = entry[tree.status].AsString();
        const long long size = Size(tree, entry);
        if (status == complete)
        {
            done += size;
            total += size;
        }
        else if (status == aborted || status == tree.runningWord || status == queued)
        {
            const long long position = Done(tree, entry);
            done += position;
            remaining += size - position;
            total += size;
        }
    }
}

void TransfersForm::GetDownloadsProgressStats(ItemSet& entries, long long& done,
                                              long long& remaining, long long& total)
{
    ProgressStats(downloads, entries, done, remaining, total);
}

void TransfersForm::GetUploadsProgressStats(ItemSet& entries, long long& done, long long& remaining,
                                            long long& total)
{
    ProgressStats(uploads, entries, done, remaining, total);
}

QString TransfersForm::AggregateStatus(const Tree& tree, const ItemSet& entries)
{
    using namespace TransferStatus;
    bool running = false;
    bool waiting = false;
    bool refused = false;
    bool stopped = false;
    size_t completed = 0;
    for (ItemPtr entry : entries)
    {
        const QString status = entry[tree.status].AsString();
        running = running || status == tree.runningWord;
        waiting = waiting || status == queued;
        refused = refused || status == denied;
        stopped = stopped || status == aborted;
        completed += status == complete;
    }
    if (running)
        return tree.runningWord;
    if (waiting)
        return queued;
    if (completed == entries.Size())
        return complete;
    if (refused)
        return denied;
    if (stopped)
        return aborted;
    return QString();
}

QString TransfersForm::GetDownloadEntriesAggregateStatus(ItemSet& entries)
{
    return AggregateStatus(downloads, entries);
}

QString TransfersForm::GetUploadEntriesAggregateStatus(ItemSet& entries)
{
    return AggregateStatus(uploads, entries);
}

void TransfersForm::SetItemColorByStatus(QTreeWidgetItem* row, QString status)
{
    const QBrush brush(QColor(Settings::GetText(ColourKey(status))));
    // Every column of the tree: cells written later must not come up in the default colour.
    const int columns = row->treeWidget() ? row->treeWidget()->columnCount() : row->columnCount();
    for (int column = 0; column < columns; ++column)
        row->setForeground(column, brush);
}

void TransfersForm::OnDownloadEntryStatusChange(ConnectionInfo& info)
{
    ShowStatusChange(downloads, info.from, info.to);
}

void TransfersForm::OnUploadEntryStatusChange(ConnectionInfo& info)
{
    ShowStatusChange(uploads, info.from, info.to);
}

void TransfersForm::OnDownloadDenialReason(ConnectionInfo& info)
{
    ShowDenialReason(downloads, info.from);
}

void TransfersForm::OnUploadDenialReason(ConnectionInfo& info)
{
    ShowDenialReason(uploads, info.from);
}

// The reason may come after the status word: a refused entry's status cell shows it either way.
void TransfersForm::ShowDenialReason(const Tree& tree, ItemPtr entry)
{
    QTreeWidgetItem* row = EntryRow(tree, entry);
    if (row && entry[tree.status].AsString() == TransferStatus::denied)
        TransferText::SetName(row, StatusColumn, TransferText::DenialReason(entry));
}

void TransfersForm::ShowStatusChange(const Tree& tree, ItemPtr entry, ItemPtr status)
{
    QTreeWidgetItem* row = EntryRow(tree, entry);
    if (!row)
        return;
    const QString word = status.AsString();
    SetItemColorByStatus(row, word);
    if (word == TransferStatus::complete)
    {
        if (&tree == &downloads)
        {
            pendingCompletions.insert(entry.Get());
            emit DownloadComplete(entry);
        }
    }
    if (&tree == &downloads)
        row->setText(PlaceColumn, QString());
    // A stopped transfer has no speed and no time left.
    if (word != tree.runningWord)
    {
        timed.erase(entry.Get());
        ClearRunningCells(row);
    }
    TransferText::SetName(row, StatusColumn,
                          word == TransferStatus::denied ? TransferText::DenialReason(entry)
                                                         : word.toLower());
    staleGroups.emplace_back(row->parent(), &tree);
    staleGroups.emplace_back(row->parent()->parent(), &tree);
    ScheduleRefresh();
}

// A group's combined status walks all its entries, and the title's counts walk every entry:
// both are taken up once after the events of a pass, not once per status change, so that
// loading, completing or clearing thousands of entries stays linear.
void TransfersForm::ScheduleRefresh()
{
    if (refreshScheduled)
        return;
    refreshScheduled = true;
    QMetaObject::invokeMethod(this, &TransfersForm::Refresh, Qt::QueuedConnection);
}

void TransfersForm::Refresh()
{
    refreshScheduled = false;
    std::vector<std::pair<QTreeWidgetItem*, const Tree*>> groups;
    groups.swap(staleGroups);
    std::unordered_set<QTreeWidgetItem*> done;
    for (const auto& [row, tree] : groups)
    {
        // A row removed meanwhile has left the live set; its address may since have gone to
        // a row of another kind or tree.
        if (!TransferRow::IsLive(row) || row->treeWidget() != TreeOf(*tree) ||
            !IsGroupRow(*tree, row))
            continue;
        if (done.insert(row).second)
            ShowGroupStatus(*tree, row);
    }
    UpdateActiveTransferCounts();
}

void TransfersForm::ShowGroupStatus(const Tree& tree, QTreeWidgetItem* row)
{
    const ItemSet entries = EntriesOf(tree, row);
    const QString status = AggregateStatus(tree, entries);
    const bool collapsed = !row->isExpanded() || !row->treeWidget();
    if (collapsed)
        row->setText(StatusColumn, status);
    if (collapsed || ProgressDelegate::Has(row, ProgressColumn))
        ShowGroupFigures(tree, row, entries);
    SetItemColorByStatus(row, status);
}

void TransfersForm::ShowGroupFigures(const Tree& tree, QTreeWidgetItem* row, const ItemSet& entries)
{
    long long done = 0;
    long long remaining = 0;
    long long total = 0;
    ProgressStats(tree, entries, done, remaining, total);
    if (total == 0)
    {
        DropProgressBar(row);
        ClearRunningCells(row);
        return;
    }
    SetProgress(row, done, TransferText::Percent(done, total, false));
    const long long speed = ReceivingSpeed(tree, entries);
    if (speed <= 0)
        return ClearRunningCells(row);
    row->setText(TimeLeftColumn, TransferText::TimeLeft(remaining, speed));
    if (!row->isExpanded())
        row->setText(SpeedColumn, TransferText::Speed(speed));
}

void TransfersForm::RecolorEntries()
{
    for (const Tree* tree : {&downloads, &uploads})
        for (ItemPtr node : g(tree->fileNode))
            if (QTreeWidgetItem* row = TransferRow::Of(node))
                SetItemColorByStatus(row, node[tree->entry][tree->status].AsString());
    for (const Tree* tree : {&downloads, &uploads})
        for (const char* nodeType : {tree->folderNode, tree->userNode})
            for (ItemPtr node : g(nodeType))
                if (QTreeWidgetItem* row = TransferRow::Of(node))
                    ShowGroupStatus(*tree, row);
}

void TransfersForm::UpdateActiveTransferCounts()
{
    int index = -1;
    QTabWidget* tabs = GetWidgetTabWidget(this, index);
    if (!tabs || !transferQueueManager)
        return;
    tabs->setTabText(index, tr("Transfers [%1/%2]")
                                .arg(transferQueueManager->ActiveDownloadCount())
                                .arg(transferQueueManager->ActiveUploadCount()));
}
