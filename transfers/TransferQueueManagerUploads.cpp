#include "TransferQueueManager.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <QFileInfo>
#include <QMutexLocker>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "MemStream.h"
#include "PeerMessageCode.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TransferTypes.h"

using namespace TransferTypes;

namespace {
const char* const logArea = "Transfer Queue";

// The entries of one status word, read in place rather than copied: search answers ask for the
// queue length, and the queue may be long.
int CountWithStatus(ItemPtr status, const char* entryType)
{
    if (status.IsNull())
        return 0;
    const ItemSet* entries = status->connections.ItemsOf(d.GetType(entryType));
    return entries ? int(entries->Size()) : 0;
}

int CountActive(const char* statusType, const char* entryType)
{
    int count = 0;
    for (ItemPtr mark : d.GetType(isActive)->GetItems())
        for (ItemPtr status : mark.GetItems(statusType))
            count += CountWithStatus(status, entryType);
    return count;
}

int GroupPriority(ItemPtr user)
{
    ItemPtr listed = user[ServerTypes::inUserList];
    int priority = 0;
    if (listed.IsNull())
        return priority;
    for (ItemPtr group : listed.GetItems(ServerTypes::userListGroup))
        for (ItemPtr value : group.GetItems(ServerTypes::groupDownloadPriority))
            priority = qMax(priority, value.AsInt());
    return priority;
}

// Where an entry goes in the upload queue. A user's priority and privilege are read once per
// ordering, not at every comparison.
struct QueueKey
{
    int priority = 0;
    bool privileged = false;
    long long order = 0;
    ItemPtr entry;
};

class QueueKeys
{
public:
    QueueKey Of(ItemPtr entry)
    {
        ItemPtr user = entry[ServerTypes::user];
        auto known = users.find(user);
        if (known == users.end())
            known = users
                        .emplace(user, std::make_pair(GroupPriority(user),
                                                      user.IsConnected(ServerTypes::isPrivileged)))
                        .first;
        return {known->second.first, known->second.second, entry[uploadOrder].AsInt64(), entry};
    }

private:
    std::unordered_map<Item*, std::pair<int, bool>> users;
};

// Higher group priority first, then privileged users, then arrival. Entries of one user share
// the first two, so arrival alone orders them.
bool Before(const QueueKey& a, const QueueKey& b)
{
    if (a.priority != b.priority)
        return a.priority > b.priority;
    if (a.privileged != b.privileged)
        return a.privileged;
    return a.order < b.order;
}

// What the peer is told the file holds: its length on disk now, not at the last scan, so that
// a file changed since costs at most one failed attempt. A file that cannot be read keeps the
// scanned length; opening it fails later with a refusal the peer understands.
qint64 SizeToAnnounce(ItemPtr shared)
{
    const QFileInfo info(TransferQueueManager::SharedFileLocalPath(shared));
    return info.isFile() && info.isReadable() ? info.size()
                                              : shared[SharesTypes::sharedFileSize].AsInt64();
}

bool IsStillShared(ItemPtr entry)
{
    return !sharedFoldersManager ||
           sharedFoldersManager->IsFileSharedWithUser(entry[SharesTypes::sharedFile],
                                                      entry[ServerTypes::user].AsString());
}
} // namespace

void TransferQueueManager::AddUpload(const QString& user, const QString& path)
{
    ItemPtr userItem = UserItemOf(user);
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
        peerMessenger->QueueUpload(user, path, SizeToAnnounce(file));

    if (RequeueExistingUpload(userItem, file))
        return;
    QueueNewUpload(userItem, file, path);
    StartNewUploads();
}

std::list<ItemPtr> TransferQueueManager::NumberedUploads()
{
    // The store's numbers must be whole before they are sorted.
    uploadLine.Flush();
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
            UploadLine::WriteNumber(entry, 1);
            lastOrderedUpload = entry;
            return;
        }
        lastOrderedUpload = numbered.back();
    }
    QueueKeys keys;
    const QueueKey key = keys.Of(entry);
    if (Before(keys.Of(lastOrderedUpload), key))
    {
        UploadLine::WriteNumber(entry, uploadLine.NumberOf(lastOrderedUpload) + 1);
        uploadLine.Touch(entry);
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
    while (place != numbered.end() && !Before(key, keys.Of(*place)))
        ++place;
    numbered.insert(place, entry);
    long long number = 1;
    for (ItemPtr numberedEntry : numbered)
        UploadLine::WriteNumber(numberedEntry, number++);
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr a, ItemPtr b)
{
    QueueKeys keys;
    return Before(keys.Of(a), keys.Of(b));
}

int TransferQueueManager::GetUserGroupDownloadPriority(const QString& user)
{
    return GroupPriority(UserItemOf(user));
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
    uploadLine.Flush();
    QueueKeys keys;
    std::vector<QueueKey> entries;
    for (ItemPtr entry : d.GetType(uploadEntry)->GetItems())
        entries.push_back(keys.Of(entry));
    std::stable_sort(entries.begin(), entries.end(), Before);
    long long number = 0;
    for (const QueueKey& key : entries)
        UploadLine::WriteNumber(key.entry, number++);
}

long long TransferQueueManager::EffectiveUploadOrder(ItemPtr entry)
{
    return uploadLine.NumberOf(entry);
}

void TransferQueueManager::StartNewUploads()
{
    int free = Settings::Get(TransferSettings::uploadSlots).AsInt() - ActiveUploadCount();
    if (free < 1)
        return;
    const std::vector<UploadLine::Waiting> waiting = uploadLine.Gather();
    // Users with a running upload; the walk below adds those it starts, so each gets one.
    std::unordered_set<Item*> busyUsers;
    for (ItemPtr mark : d.GetType(isActive)->GetItems())
        for (ItemPtr status : mark.GetItems(uploadEntryStatus))
            for (ItemPtr entry : status.GetItems(uploadEntry))
                busyUsers.insert(entry[ServerTypes::user]);
    std::vector<UploadLine::Waiting> numbered;
    numbered.reserve(waiting.size());
    std::vector<ItemPtr> starting;
    std::vector<ItemPtr> refused;
    for (const UploadLine::Waiting& entry : waiting)
    {
        const bool startable = free > 0 && busyUsers.count(entry.user) == 0;
        // The file's folder may have been unshared, or made private, since the entry was queued.
        if (startable && !IsStillShared(entry.entry))
        {
            refused.push_back(entry.entry);
            continue;
        }
        numbered.push_back(entry);
        if (!startable)
            continue;
        busyUsers.insert(entry.user);
        starting.push_back(entry.entry);
        --free;
    }
    // Every waiting entry is numbered by its place in this walk, the started ones included.
    uploadLine.Replace(numbered);
    const ItemPtr queued = d.GetType(uploadEntryStatus)->HasItem(Value(TransferStatus::queued));
    for (ItemPtr entry : starting)
    {
        if (!entry.IsConnected(queued))
            continue;
        // The entry keeps the size offered: the file link sends exactly that many bytes.
        const qint64 size = SizeToAnnounce(entry[SharesTypes::sharedFile]);
        ReplaceValue(entry, PeerTypes::fileSize, Value(size));
        const unsigned int request =
            peerMessenger
                ? peerMessenger->RequestUpload(entry[ServerTypes::user].AsString(),
                                               entry[filenameAsRequested].AsString(), size)
                : 0;
        SetUploadEntryStatus(entry, TransferStatus::requesting);
        entry.Connect(d.GetType(transferReq)->GetItem(Value(request)));
        DetermineUploadSpeedLimit();
    }
    for (ItemPtr entry : refused)
        RefuseUpload(entry);
}

void TransferQueueManager::SetUploadEntryStatus(ItemPtr entry, const QString& status)
{
    const bool wasActive = IsActiveStatus(entry[uploadEntryStatus]);
    ItemPtr statusItem = d.GetType(uploadEntryStatus)->GetItem(Value(status));
    entry.Connect(statusItem);
    uploadLine.Touch(entry);
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
    DropUpload(entry);
    StartNewUploads();
}

void TransferQueueManager::DropUpload(ItemPtr entry)
{
    const bool wasActive = IsActiveStatus(entry[uploadEntryStatus]);
    StopThread(entry[uploadThread]);
    DropSocket(entry[uploadSocket], true);
    DropFile(entry[uploadFile]);
    DropReadPosition(entry);
    RemoveCells(entry,
                {lastReceiptTime, lastSpeedMeasurementTime, bytesPerSecond, bytesSinceLastReceipt});
    entry.Remove();
    // The uploads still running take over the removed one's share of the speed limit.
    if (wasActive)
        DetermineUploadSpeedLimit();
}

void TransferQueueManager::RefuseUpload(ItemPtr entry)
{
    ItemPtr user = entry[ServerTypes::user];
    Log(logArea, 2,
        QString("Refusing %1: file not shared").arg(entry[filenameAsRequested].AsString()), user);
    if (peerMessenger)
        peerMessenger->DenyUpload(user.AsString(), entry[filenameAsRequested].AsString(),
                                  "File not shared.");
    DropUpload(entry);
}

void TransferQueueManager::UnshareUser(const QString& user)
{
    ItemPtr userItem = UserItemOf(user);
    userItem.Connect(d.GetType(SharesTypes::unshared)->GetGlobalNullItem());
    const ItemSet entries = userItem.GetItems(uploadEntry);
    if (entries.Empty())
        return;
    for (ItemPtr entry : entries)
        RefuseUpload(entry);
    // Once for all: the user's own entries are gone, so the freed slots go to other users.
    StartNewUploads();
}

void TransferQueueManager::ReshareUser(const QString& user)
{
    ItemPtr userItem = UserItemOf(user);
    userItem.Disconnect(SharesTypes::unshared);
    uploadLine.Arrive(userItem);
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
    return CountWithStatus(d.GetType(uploadEntryStatus)->HasItem(Value(TransferStatus::queued)),
                           uploadEntry);
}

bool TransferQueueManager::IsFreeToUpload()
{
    return ActiveUploadCount() < Settings::Get(TransferSettings::uploadSlots).AsInt();
}

bool TransferQueueManager::IsActivelyDownloadingFromUser(const QString& user)
{
    return !EntryConnectedToAll(
                downloadEntry,
                {UserItemOf(user),
                 d.GetType(downloadEntryStatus)->HasItem(Value(TransferStatus::downloading))})
                .IsNull();
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
