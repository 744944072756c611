// Housekeeping on the shared timers, and the store handlers that free progress cells.
#include "TransferQueueManager.h"

#include <QCoreApplication>

#include "Data.h"
#include "Log.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTypes.h"
#include "TransferTypes.h"

using namespace TransferTypes;

namespace {
QDateTime ReadTime(ItemPtr item)
{
    return QDateTime::fromString(item.AsString(), Qt::TextDate);
}

template <class T> void FreeCell(ItemPtr item)
{
    delete item.AsPointer<T>();
}
} // namespace

void TransferQueueManager::PeriodicCheck()
{}

void TransferQueueManager::EveryHalfMinute()
{
    EveryHalfMinuteAt(QDateTime::currentDateTime());
}

void TransferQueueManager::EveryHalfMinuteAt(const QDateTime& now)
{
    AbortStalledHandshakes(now);
    AskAboutQueuedDownloads(now);
    QuitWhenUploadsAreDone(now);
}

void TransferQueueManager::AbortStalledHandshakes(const QDateTime& now)
{
    ItemSet stalled;
    for (const char* word :
         {TransferStatus::requesting, TransferStatus::connecting, TransferStatus::waitingForOffset})
        stalled.Add(ItemPtr(d.GetType(uploadEntryStatus)->GetItem(word)).GetItems(uploadEntry));
    bool aborted = false;
    for (ItemPtr entry : stalled)
    {
        // A time that cannot be read counts as stalled, so no entry is kept forever.
        const QDateTime changed = ReadTime(entry[lastStatusChangeTime]);
        if (changed.isValid() && changed.msecsTo(now) < 30000)
            continue;
        Log("Transfer Queue", 1,
            QString("Upload of %1 to %2 timed out in %3 phase, aborting")
                .arg(entry[SharesTypes::sharedFile][SharesTypes::sharedFileName].AsString(),
                     entry[ServerTypes::user].AsString(), entry[uploadEntryStatus].AsString()));
        SetUploadEntryStatus(entry, TransferStatus::aborted);
        aborted = true;
    }
    if (aborted)
        StartNewUploads();
}

void TransferQueueManager::AskAboutQueuedDownloads(const QDateTime& now)
{
    ItemPtr queuedStatus = d.GetType(downloadEntryStatus)->HasItem(Value(TransferStatus::queued));
    if (queuedStatus.IsNull())
        return;
    const ItemSet users = queuedStatus.GetItems(downloadEntry)
                              .GetItems(ServerTypes::user)
                              .Connected(ServerTypes::isOnline);
    for (ItemPtr user : users)
    {
        if (IsActivelyDownloadingFromUser(user.AsString()))
            continue;
        const QDateTime last = ReadTime(user[lastQueueRequestTime]);
        if (!last.isValid() || last.msecsTo(now) >= 600000)
            RequeueUserDownloadsAt(user, now);
    }
    for (ItemPtr user : users)
    {
        if (IsActivelyDownloadingFromUser(user.AsString()))
            continue;
        const QDateTime next = ReadTime(user[nextPlaceInLineRequestTime]);
        if (next.isValid() && now < next)
            continue;
        const ItemSet queued =
            user.GetItems(downloadEntry).Connected(downloadEntryStatus, queuedStatus.GetValue());
        for (ItemPtr entry : queued.SortNumericBy(downloadOrder, true))
            RequestDownloadPlaceInLine(entry);
        ReplaceValue(user, nextPlaceInLineRequestTime,
                     Value(now.addSecs(600).toString(Qt::TextDate)));
    }
}

void TransferQueueManager::QuitWhenUploadsAreDone(const QDateTime& now)
{
    if (!Settings::IsYes(TransferSettings::finishUploadsAndQuit, Settings::runtime))
        return;
    QDateTime lastChange =
        ReadTime(Settings::Get(TransferSettings::lastUploadStateChange, Settings::runtime));
    // No upload changed in this run: the quiet time counts from the start.
    if (!lastChange.isValid())
        lastChange = runStart;
    if (lastChange.secsTo(now) > 300 && ActiveUploadCount() == 0 && QueuedUploadCount() == 0)
        QCoreApplication::exit(0);
}

void TransferQueueManager::StartTimerTest()
{
    connect(&timerTestTimer, &QTimer::timeout, this, &TransferQueueManager::TimerTest);
    timerTestTimer.setSingleShot(false);
    timerTestTimer.start(1000);
    timerTestClock.start();
}

void TransferQueueManager::TimerTest()
{
    Log("Timer Test", 1,
        QString("Timeout: %1 milliseconds behind schedule").arg(timerTestClock.elapsed() - 1000));
    timerTestClock.restart();
}

void TransferQueueManager::OnWritePositionRemoved(ItemPtr item)
{
    FreeCell<qint64>(item);
}

void TransferQueueManager::OnLastReceiptTimeRemoved(ItemPtr item)
{
    FreeCell<QDateTime>(item);
}

void TransferQueueManager::OnLastSpeedMeasurementTimeRemoved(ItemPtr item)
{
    FreeCell<QDateTime>(item);
}

void TransferQueueManager::OnBytesPerSecondRemoved(ItemPtr item)
{
    FreeCell<int>(item);
}

void TransferQueueManager::OnBytesSinceLastReceiptRemoved(ItemPtr item)
{
    FreeCell<qint64>(item);
}

void TransferQueueManager::OnBytesUploadedRemoved(ItemPtr item)
{
    FreeCell<qint64>(item);
}
