#include "TransferQueueManager.h"

#include <cstdint>
#include <limits>
#include <unordered_set>

#include <QMutexLocker>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "MemStream.h"
#include "PeerMessageCode.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TransferTypes.h"

using namespace TransferTypes;

namespace {
const char* const logArea = "Transfer Queue";

ItemPtr UserItem(const QString& user)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(user));
}

ItemSet EntriesWithStatus(const char* statusType, const char* entryType, const char* word)
{
    ItemPtr status = d.GetType(statusType)->HasItem(Value(word));
    return status.IsNull() ? ItemSet() : status.GetItems(entryType);
}

int CountActive(const char* statusType, const char* entryType)
{
    int count = 0;
    for (ItemPtr status : d.GetType(isActive)->GetItems().GetItems(statusType))
        count += int(status.GetItems(entryType).Size());
    return count;
}
} // namespace

void TransferQueueManager::AddUpload(const QString& user, const QString& path)
{
    ItemPtr userItem = UserItem(user);
    Log(logArea, 1, QString("Initiating upload to %1 of file %2").arg(user, path), userItem);
    ItemPtr file = sharedFoldersManager
                       ? sharedFoldersManager->GetSharedFileItem(QString(path).replace('\\', '/'))
                       : ItemPtr();
    if (file.IsNull() || !sharedFoldersManager->IsFileSharedWithUser(file, user))
    {
        Log(logArea, 2,
            "Can't upload, file is either not shared or not shared with that particular user.",
            userItem);
        return;
    }
    if (peerMessenger)
        peerMessenger->QueueUpload(user, path, file[SharesTypes::sharedFileSize].AsInt64());

    if (RequeueExistingUpload(userItem, file))
        return;
    QueueNewUpload(userItem, file, path);
    StartNewUploads();
}

std::list<ItemPtr> TransferQueueManager::NumberedUploads()
{
    return d.GetType(uploadEntry)
        ->GetItems()
        .Connected(effectiveUploadOrder)
        .SortNumericBy(effectiveUploadOrder, true);
}

void TransferQueueManager::OrderNewUpload(ItemPtr entry)
{
    std::list<ItemPtr> numbered;
    bool built = false;
    if (lastOrderedUpload.IsNull())
    {
        numbered = NumberedUploads();
        built = true;
        if (numbered.empty())
        {
            entry.Connect(d.GetType(effectiveUploadOrder)->GetItem(Value(1)));
            lastOrderedUpload = entry;
            return;
        }
        lastOrderedUpload = numbered.back();
    }
    if (UploadEntrySortCompare(lastOrderedUpload, entry))
    {
        const int next = lastOrderedUpload[effectiveUploadOrder].AsInt() + 1;
        entry.Connect(d.GetType(effectiveUploadOrder)->GetItem(Value(next)));
        lastOrderedUpload = entry;
        return;
    }
    if (!built)
    {
        numbered = NumberedUploads();
        if (!numbered.empty())
            lastOrderedUpload = numbered.back();
    }
    auto place = numbered.begin();
    while (place != numbered.end() && !UploadEntrySortCompare(entry, *place))
        ++place;
    numbered.insert(place, entry);
    int number = 1;
    for (ItemPtr numberedEntry : numbered)
        numberedEntry.Connect(d.GetType(effectiveUploadOrder)->GetItem(Value(number++)));
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr a, ItemPtr b)
{
    ItemPtr userA = a[ServerTypes::user];
    ItemPtr userB = b[ServerTypes::user];
    if (userA != userB)
    {
        const int priorityA = GetUserGroupDownloadPriority(userA.AsString());
        const int priorityB = GetUserGroupDownloadPriority(userB.AsString());
        if (priorityA != priorityB)
            return priorityA > priorityB;
        const bool privilegedA = userA.IsConnected(ServerTypes::isPrivileged);
        const bool privilegedB = userB.IsConnected(ServerTypes::isPrivileged);
        if (privilegedA != privilegedB)
            return privilegedA;
    }
    return a[uploadOrder].AsInt() < b[uploadOrder].AsInt();
}

int TransferQueueManager::GetUserGroupDownloadPriority(const QString& user)
{
    ItemPtr listed = UserItem(user)[ServerTypes::inUserList];
    int priority = 0;
    if (listed.IsNull())
        return priority;
    for (ItemPtr group : listed.GetItems(ServerTypes::userListGroup))
        for (ItemPtr value : group.GetItems(ServerTypes::groupDownloadPriority))
            priority = qMax(priority, value.AsInt());
    return priority;
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
    std::list<ItemPtr> entries;
    for (ItemPtr entry : d.GetType(uploadEntry)->GetItems())
        entries.push_back(entry);
    entries.sort([this](ItemPtr a, ItemPtr b) { return UploadEntrySortCompare(a, b); });
    int number = 0;
    for (ItemPtr entry : entries)
        entry.Connect(d.GetType(effectiveUploadOrder)->GetItem(Value(number++)));
}

void TransferQueueManager::StartNewUploads()
{
    int free = Settings::Get(TransferSettings::uploadSlots).AsInt() - ActiveUploadCount();
    if (free < 1)
        return;
    const ItemSet queued =
        EntriesWithStatus(uploadEntryStatus, uploadEntry, TransferStatus::queued);
    // Users with a running upload; the walk below adds those it starts, so each gets one.
    std::unordered_set<Item*> busyUsers;
    for (ItemPtr status : d.GetType(isActive)->GetItems().GetItems(uploadEntryStatus))
        for (ItemPtr entry : status.GetItems(uploadEntry))
            busyUsers.insert(entry[ServerTypes::user]);
    int counter = 0;
    for (ItemPtr entry : queued.SortNumericBy(effectiveUploadOrder, true))
    {
        if (!entry[ServerTypes::user].IsConnected(ServerTypes::isOnline))
            continue;
        entry.Connect(d.GetType(effectiveUploadOrder)->GetItem(Value(counter++)));
        if (free <= 0)
            continue;
        ItemPtr user = entry[ServerTypes::user];
        if (!busyUsers.insert(user).second)
            continue;
        const unsigned int request =
            peerMessenger
                ? peerMessenger->RequestUpload(
                      user.AsString(), entry[filenameAsRequested].AsString(),
                      entry[SharesTypes::sharedFile][SharesTypes::sharedFileSize].AsInt64())
                : 0;
        SetUploadEntryStatus(entry, TransferStatus::requesting);
        entry.Connect(d.GetType(transferReq)->GetItem(Value(request)));
        --free;
        DetermineUploadSpeedLimit();
    }
}

void TransferQueueManager::SetUploadEntryStatus(ItemPtr entry, const QString& status)
{
    const bool wasActive = IsActiveStatus(entry[uploadEntryStatus]);
    ItemPtr statusItem = d.GetType(uploadEntryStatus)->GetItem(Value(status));
    entry.Connect(statusItem);
    entry.Connect(d.GetType(lastStatusChangeTime)->GetItem(Value(CurrentLocalTimeText())));
    if (wasActive && !IsActiveStatus(statusItem))
    {
        StopThread(entry[uploadThread]);
        DropFile(entry[uploadFile]);
        DropSocket(entry[uploadSocket], false);
        DropReadPosition(entry);
        RemoveCells(entry, {lastReceiptTime, lastSpeedMeasurementTime, bytesPerSecond,
                            bytesSinceLastReceipt});
        if (status == TransferStatus::aborted)
        {
            ItemPtr user = entry[ServerTypes::user];
            Log(logArea, 1,
                QString("Upload of %1 to %2 aborted, sending upload failed notification.")
                    .arg(entry[SharesTypes::sharedFile][SharesTypes::sharedFileName].AsString(),
                         user.AsString()),
                user);
            MemStream notice;
            notice.Write(std::uint32_t(PeerMessageCode::PM_UPLOAD_FAILED));
            notice.Write(entry[filenameAsRequested].AsStdString());
            if (peerMessenger)
                peerMessenger->SendMessage(user.AsString(), notice);
        }
        DetermineUploadSpeedLimit();
    }
    Settings::Set(TransferSettings::lastUploadStateChange, Value(CurrentLocalTimeText()),
                  Settings::runtime);
}

void TransferQueueManager::RemoveUpload(ItemPtr entry)
{
    const bool wasActive = IsActiveStatus(entry[uploadEntryStatus]);
    StopThread(entry[uploadThread]);
    DropSocket(entry[uploadSocket], true);
    DropFile(entry[uploadFile]);
    DropReadPosition(entry);
    RemoveCells(entry,
                {lastReceiptTime, lastSpeedMeasurementTime, bytesPerSecond, bytesSinceLastReceipt});
    if (entry == lastOrderedUpload)
        lastOrderedUpload = ItemPtr();
    entry.Remove();
    // The uploads still running take over the removed one's share of the speed limit.
    if (wasActive)
        DetermineUploadSpeedLimit();
    StartNewUploads();
}

void TransferQueueManager::UnshareUser(const QString& user)
{
    ItemPtr userItem = UserItem(user);
    userItem.Connect(d.GetType(SharesTypes::unshared)->GetGlobalNullItem());
    for (ItemPtr entry : userItem.GetItems(uploadEntry))
    {
        if (peerMessenger)
            peerMessenger->DenyUpload(user, entry[filenameAsRequested].AsString(),
                                      "File not shared.");
        RemoveUpload(entry);
    }
}

void TransferQueueManager::ReshareUser(const QString& user)
{
    UserItem(user).Disconnect(SharesTypes::unshared);
}

void TransferQueueManager::SetUploadSlots(int slotCount)
{
    if (slotCount < 1 || slotCount > 99)
        return;
    const int old = Settings::Get(TransferSettings::uploadSlots).AsInt();
    Settings::Set(TransferSettings::uploadSlots, Value(slotCount));
    if (slotCount > old)
        StartNewUploads();
}

int TransferQueueManager::ActiveUploadCount()
{
    return CountActive(uploadEntryStatus, uploadEntry);
}

int TransferQueueManager::ActiveDownloadCount()
{
    return CountActive(downloadEntryStatus, downloadEntry);
}

int TransferQueueManager::QueuedUploadCount()
{
    return int(EntriesWithStatus(uploadEntryStatus, uploadEntry, TransferStatus::queued).Size());
}

bool TransferQueueManager::IsFreeToUpload()
{
    return ActiveUploadCount() < Settings::Get(TransferSettings::uploadSlots).AsInt();
}

bool TransferQueueManager::IsActivelyDownloadingFromUser(const QString& user)
{
    return !UserItem(user)
                .GetItems(downloadEntry)
                .Connected(downloadEntryStatus, Value(TransferStatus::downloading))
                .Empty();
}

bool TransferQueueManager::AssertNoExtraUploads()
{
    const bool fits = ActiveUploadCount() <= Settings::Get(TransferSettings::uploadSlots).AsInt();
    if (!fits)
        Log(logArea, 1, "More uploads are running than there are upload slots");
    return fits;
}

void TransferQueueManager::DetermineUploadSpeedLimit()
{
    const int limit = Settings::Get(TransferSettings::uploadSpeedLimit).AsInt();
    if (limit < 1 || !Settings::IsYes(TransferSettings::uploadSpeedLimitEnabled))
    {
        QMutexLocker lock(&speedMutex);
        uploadSpeedLimit = 0;
        perUploadSpeedLimit = 0;
        return;
    }
    const int active = ActiveUploadCount();
    QMutexLocker lock(&speedMutex);
    uploadSpeedLimit = limit;
    perUploadSpeedLimit = active == 0 ? limit : qMax(1, limit / active);
    uploadAllowance = 0;
}

int TransferQueueManager::GetUploadSpeed()
{
    QMutexLocker lock(&speedMutex);
    return uploadSpeedLimit;
}

int TransferQueueManager::GetPerUploadSpeedLimit()
{
    QMutexLocker lock(&speedMutex);
    return perUploadSpeedLimit;
}

qint64 TransferQueueManager::GetUploadAllowance()
{
    QMutexLocker lock(&speedMutex);
    return uploadAllowance;
}

void TransferQueueManager::SetUploadSpeedLimit(int limit)
{
    Settings::Set(TransferSettings::uploadSpeedLimit, Value(limit));
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::EnableUploadSpeedLimit(bool enable)
{
    Settings::Set(TransferSettings::uploadSpeedLimitEnabled, enable ? "yes" : "no");
    DetermineUploadSpeedLimit();
}

qint64 TransferQueueManager::PayFromAllowance(qint64 debt)
{
    QMutexLocker lock(&speedMutex);
    if (debt >= uploadAllowance)
    {
        debt -= uploadAllowance;
        uploadAllowance = 0;
        return debt;
    }
    uploadAllowance -= debt;
    return 0;
}

void TransferQueueManager::AddEarnedToAllowance(int perUploadLimit, qint64 elapsedMs, qint64 debt)
{
    const qint64 earned = EarnedBytes(perUploadLimit, elapsedMs);
    if (earned <= debt)
        return;
    QMutexLocker lock(&speedMutex);
    uploadAllowance += earned - debt;
}

qint64 TransferQueueManager::EarnedBytes(int limitKiB, qint64 elapsedMs)
{
    if (limitKiB <= 0 || elapsedMs <= 0)
        return 0;
    const qint64 perSecond = qint64(limitKiB) * 1024;
    // A clock that jumped must not overflow the product.
    const qint64 cap = std::numeric_limits<qint64>::max() / perSecond;
    return perSecond * qMin(elapsedMs, cap) / 1000;
}
