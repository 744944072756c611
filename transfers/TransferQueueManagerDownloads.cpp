#include "TransferQueueManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "Data.h"
#include "DownloadPath.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "TransferTypes.h"

using namespace TransferTypes;

namespace {
// The download folder in local form; a saved folder that is empty or relative is refused.
QString LocalDownloadRoot()
{
    // Clean, so that a path made under it is one text: kept paths are compared as text.
    const QString saved = Settings::GetText(TransferSettings::downloadFolder);
    return DownloadPath::IsUsableRoot(saved) ? QDir::cleanPath(saved) : DownloadPath::DefaultRoot();
}
} // namespace

ItemPtr TransferQueueManager::AddDownload(const QString& user, const string& fileNameBytes,
                                          const string& folder, qint64 size, bool singleFile,
                                          int level)
{
    ItemPtr existing = GetDownloadEntry(user, fileNameBytes, folder);
    if (!existing.IsNull())
        return existing;

    ItemPtr userItem = UserItemOf(user);
    ItemPtr entry = d.GetType(downloadEntry)->NewItem();
    entry.Connect(userItem);
    entry.Connect(d.GetType(fileName)->GetItem(Value(fileNameBytes)));
    entry.Connect(d.GetType(remoteFolder)->GetItem(Value(folder)));
    entry.Connect(d.GetType(PeerTypes::fileSize)->GetItem(Value(size)));
    entry.Connect(d.GetType(subfolderSaveLevel)->GetItem(Value(level)));
    if (singleFile)
        entry.Connect(d.GetType(singleDownload)->GetGlobalNullItem());
    const bool named = singleFile || ChooseLocalFolder(entry);
    const long long order = Settings::Get(TransferSettings::transferOrderCounter).AsInt64();
    entry.Connect(d.GetType(downloadOrder)->GetItem(Value(order)));
    Settings::Set(TransferSettings::transferOrderCounter, Value(order + 1));
    if (gp_server)
        gp_server->TrackUser(user);

    // A name that would lead outside the download folder is never asked for, nor one that no
    // free local name is left for.
    const char* refusal = !IsDownloadPathSafe(entry) ? "its path leaves the download folder"
                          : !named                   ? "every numbered name of its folder is taken"
                                                     : nullptr;
    if (refusal)
    {
        Log("Transfer Queue", 1,
            QString("Refusing to download %1: %2").arg(RemotePath(entry), refusal), userItem);
        SetDownloadEntryStatus(entry, TransferStatus::localError);
        return entry;
    }
    if (DoesDownloadItemCompleteFilenameExist(entry))
    {
        SetDownloadEntryStatus(entry, TransferStatus::complete);
        return entry;
    }
    SetDownloadEntryStatus(entry, TransferStatus::queued);
    if (userItem.IsConnected(ServerTypes::isOnline) && peerMessenger)
        peerMessenger->QueueDownload(user, folder + "\\" + fileNameBytes);
    const QString next = QDateTime::currentDateTime().addSecs(10).toString(Qt::TextDate);
    userItem.Connect(d.GetType(nextPlaceInLineRequestTime)->GetItem(Value(next)));
    return entry;
}

ItemPtr TransferQueueManager::GetDownloadEntry(const QString& user, const string& fileNameBytes,
                                               const string& folder)
{
    return EntryConnectedToAll(downloadEntry, {d.GetType(ServerTypes::user)->HasItem(Value(user)),
                                               d.GetType(fileName)->HasItem(Value(fileNameBytes)),
                                               d.GetType(remoteFolder)->HasItem(Value(folder))});
}

void TransferQueueManager::SetDownloadEntryStatus(ItemPtr entry, const QString& status)
{
    const bool wasActive = IsActiveStatus(entry[downloadEntryStatus]);
    const bool wasComplete = entry[downloadEntryStatus].AsString() == TransferStatus::complete;
    ItemPtr statusItem = d.GetType(downloadEntryStatus)->GetItem(Value(status));
    entry.Connect(statusItem);
    // A finished file's path now counts as the partial file to resume: kept only while it still
    // holds the whole file, which the next link then finds done; anything else there may be
    // another's by now.
    ItemPtr kept = entry[downloadLocalPath];
    if (wasComplete && status != TransferStatus::complete && !kept.IsNull() &&
        !HoldsWholeFile(entry, kept.AsString()))
    {
        Log("Transfer Queue", 2,
            QString("Forgetting %1: it no longer holds the finished file").arg(kept.AsString()),
            entry[ServerTypes::user]);
        ForgetLocalPath(entry);
    }
    entry.Connect(d.GetType(lastStatusChangeTime)->GetItem(Value(CurrentLocalTimeText())));
    if (!wasActive || IsActiveStatus(statusItem))
        return;
    StopThread(entry[downloadThread]);
    DropFile(entry[downloadFile]);
    DropSocket(entry[downloadSocket], false);
    RemoveCells(entry, {writePosition, lastReceiptTime, lastSpeedMeasurementTime, bytesPerSecond,
                        bytesSinceLastReceipt});
    entry[ServerTypes::user].Connect(
        d.GetType(lastQueueRequestTime)->GetItem(Value(CurrentLocalTimeText())));
}

void TransferQueueManager::RequeueDownload(ItemPtr entry)
{
    ItemPtr status = entry[downloadEntryStatus];
    if (status.AsString() == TransferStatus::complete || IsActiveStatus(status))
        return;
    if (!IsDownloadPathSafe(entry))
    {
        SetDownloadEntryStatus(entry, TransferStatus::localError);
        return;
    }
    // Every byte is in, and only the move failed: it is tried again, the peer is not asked.
    ItemPtr partial = entry[downloadLocalPath];
    if (!partial.IsNull() && HoldsWholeFile(entry, partial.AsString()))
    {
        FinishDownload(entry);
        return;
    }
    if (DoesDownloadItemCompleteFilenameExist(entry))
    {
        SetDownloadEntryStatus(entry, TransferStatus::complete);
        return;
    }
    ItemPtr user = entry[ServerTypes::user];
    if (peerMessenger)
        peerMessenger->QueueDownload(user.AsString(), entry[remoteFolder].AsStdString() + "\\" +
                                                          entry[fileName].AsStdString());
    SetDownloadEntryStatus(entry, TransferStatus::queued);
    Log("Transfer Queue", 2, QString("Queueing %1").arg(entry[fileName].AsString()), user);
}

void TransferQueueManager::RemoveDownload(ItemPtr entry)
{
    StopThread(entry[downloadThread]);
    DropSocket(entry[downloadSocket], true);
    DropFile(entry[downloadFile]);
    RemoveCells(entry, {writePosition, lastReceiptTime, lastSpeedMeasurementTime, bytesPerSecond,
                        bytesSinceLastReceipt});
    ForgetLocalPath(entry);
    entry.Remove();
}

void TransferQueueManager::ForgetLocalPath(ItemPtr entry)
{
    // Each entry's path is an item of its own; it goes with the entry, so that many downloads
    // queued and removed do not fill the store.
    ItemPtr path = entry[downloadLocalPath];
    if (path.IsNull())
        return;
    entry.Disconnect(path);
    if (path.IsDisconnectedFromAll())
        path.Remove();
}

QString TransferQueueManager::RemotePath(ItemPtr entry)
{
    return entry[remoteFolder].AsString() + "\\" + entry[fileName].AsString();
}

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr entry)
{
    return SubfolderPart(entry).mid(1);
}

QString TransferQueueManager::SubfolderPart(ItemPtr entry)
{
    ItemPtr folder = entry[remoteFolder];
    if (folder.IsNull() || folder.AsStdString().empty())
        return QString();
    QStringList components =
        DownloadPath::RelativeComponents(folder.AsStdString(), entry[subfolderSaveLevel].AsInt());
    if (components.isEmpty())
        return QString();
    // A folder download may have been given a distinct name for the folder it started from.
    if (ItemPtr chosen = entry[downloadFolder])
        components.first() = DownloadPath::SafeComponent(chosen.AsString());
    return "\\" + components.join('\\');
}

bool TransferQueueManager::ChooseLocalFolder(ItemPtr entry)
{
    const std::string folder = entry[remoteFolder].AsStdString();
    const int level = entry[subfolderSaveLevel].AsInt();
    const QStringList components = DownloadPath::RelativeComponents(folder, level);
    if (components.isEmpty())
        return true;
    ItemPtr user = entry[ServerTypes::user];
    // The files of one remote folder share its local name: the usual case is found at once.
    ItemPtr sibling = EntryConnectedToAll(
        downloadEntry, {user, entry[remoteFolder], entry[subfolderSaveLevel]}, entry);
    if (ItemPtr name = sibling[downloadFolder])
    {
        entry.Connect(name);
        return true;
    }
    // Another folder of the same name, or the same folder from another user, takes a numbered
    // one, so that no two mix their files. Every numbered form is looked at, not only the first
    // ones: a number whose entries went (or were not saved) leaves a gap below those still held.
    const QString base = components.first();
    const QString stem = DownloadPath::NumberedStem(base);
    const std::string chosen = DownloadPath::ChosenFolder(folder, level);
    QSet<int> held;
    for (auto place = localFolderNames.lower_bound(stem);
         place != localFolderNames.end() && place->first.startsWith(stem); ++place)
    {
        ItemPtr name = place->second;
        const int number = DownloadPath::NumberOf(place->first, base, false);
        ItemPtr holder = name[downloadEntry];
        if (number == 0 || holder.IsNull())
            continue;
        if (holder[ServerTypes::user] == user &&
            DownloadPath::ChosenFolder(holder[remoteFolder].AsStdString(),
                                       holder[subfolderSaveLevel].AsInt()) == chosen)
        {
            entry.Connect(name);
            return true;
        }
        held.insert(number);
    }
    for (int number = 1; number <= DownloadPath::NumberedNameBound(); ++number)
    {
        const QString name = DownloadPath::NumberedFolder(base, number);
        // A numbered folder that no entry holds but that lies on disk was made for another
        // folder download: its files are not this one's. The plain name is the user's own
        // download folder layout and is shared as before.
        if (held.contains(number) || (number > 1 && IsFolderOnDisk(name)))
            continue;
        entry.Connect(d.GetType(downloadFolder)->GetItem(Value(name)));
        return true;
    }
    return false;
}

bool TransferQueueManager::IsFolderOnDisk(const QString& name)
{
    const QString root = LocalDownloadRoot() + "/";
    for (const QString& place : {QString(), QString("complete/"), QString("downloading/")})
        if (DownloadPath::IsTaken(root + place + name))
            return true;
    return false;
}

QString TransferQueueManager::DownloadRoot()
{
    return LocalDownloadRoot().replace('/', '\\');
}

bool TransferQueueManager::IsRecordedPath(ItemPtr entry, bool complete)
{
    return !entry[downloadLocalPath].IsNull() &&
           (entry[downloadEntryStatus].AsString() == TransferStatus::complete) == complete;
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr entry, bool complete)
{
    const QString path = GetDownloadTargetPath(entry, complete);
    return path.left(path.lastIndexOf('\\'));
}

QString TransferQueueManager::GetDownloadTargetPath(ItemPtr entry, bool complete)
{
    if (IsRecordedPath(entry, complete))
        return entry[downloadLocalPath].AsString().replace('/', '\\');
    return NamedTargetPath(entry, complete);
}

QString TransferQueueManager::NamedTargetPath(ItemPtr entry, bool complete)
{
    QString folder = DownloadRoot();
    if (Settings::GetText(TransferSettings::dontSplitDownloads) != "yes")
        folder += complete ? "\\complete" : "\\downloading";
    const bool flat = Settings::IsYes(TransferSettings::dontCreateSubfoldersForSingleDownloads) &&
                      entry.IsConnected(singleDownload);
    if (!flat)
        folder += SubfolderPart(entry);
    return folder + "\\" + DownloadPath::SafeComponent(entry[fileName].AsString());
}

QString TransferQueueManager::LocalPath(QString path)
{
    return path.replace('\\', '/');
}

bool TransferQueueManager::IsDownloadPathSafe(ItemPtr entry)
{
    const QString root = LocalDownloadRoot();
    // The paths the peer's names make; a recorded one was made from them under the download
    // folder of its day, which the user may have changed since.
    return DownloadPath::IsInside(LocalPath(NamedTargetPath(entry, true)), root) &&
           DownloadPath::IsInside(LocalPath(NamedTargetPath(entry, false)), root);
}

// A finished file counts as this entry's only when it has the size the user queued: a file of
// another size there is another download's, or this one's own partial without the downloading
// folder.
bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr entry)
{
    return HoldsWholeFile(entry, LocalPath(GetDownloadTargetPath(entry, true)));
}

bool TransferQueueManager::HoldsWholeFile(ItemPtr entry, const QString& localPath)
{
    const QFileInfo file(localPath);
    return file.isFile() && file.size() == entry[PeerTypes::fileSize].AsInt64();
}

QString TransferQueueManager::PartialPathOf(ItemPtr entry)
{
    if (ItemPtr recorded = entry[downloadLocalPath])
        return recorded.AsString();
    // Without the downloading folder a file already there may be a finished one: it is never
    // appended to. In the downloading folder an unclaimed file is a partial left behind (by an
    // entry removed and queued again, or saved before files were claimed): it is resumed.
    return FreeNumberedPath(LocalPath(GetDownloadTargetPath(entry, false)), entry, QString(),
                            !Settings::IsYes(TransferSettings::dontSplitDownloads));
}

QString TransferQueueManager::FreeNumberedPath(const QString& wanted, ItemPtr entry,
                                               const QString& own, bool mayResume)
{
    for (int number = 1; number <= DownloadPath::NumberedNameBound(); ++number)
    {
        const QString candidate = DownloadPath::Numbered(wanted, number);
        if (candidate == own)
            return candidate;
        if (!IsClaimedByAnother(candidate, entry) &&
            (mayResume || !DownloadPath::IsTaken(candidate)))
            return candidate;
    }
    return QString();
}

bool TransferQueueManager::IsClaimedByAnother(const QString& localPath, ItemPtr entry)
{
    ItemPtr claim = d.GetType(downloadLocalPath)->HasItem(Value(localPath));
    for (ItemPtr holder : claim.GetItems(downloadEntry))
        if (holder != entry)
            return true;
    return false;
}

bool TransferQueueManager::IsUsableKeptPath(ItemPtr entry, const QString& localPath)
{
    const QString own = DownloadPath::SafeComponent(entry[fileName].AsString());
    return DownloadPath::IsInside(localPath, LocalDownloadRoot()) &&
           DownloadPath::NumberOf(QFileInfo(localPath).fileName(), own, true) > 0;
}

void TransferQueueManager::CheckKeptPaths()
{
    for (ItemPtr entry : d.GetType(downloadEntry)->GetItems())
    {
        ItemPtr kept = entry[downloadLocalPath];
        if (kept.IsNull())
            continue;
        const QString path = kept.AsString();
        const bool shared = *kept.GetItems(downloadEntry).begin() != entry;
        if (!shared && path == QDir::cleanPath(path) && IsUsableKeptPath(entry, path))
            continue;
        Log("Transfer Queue", 1,
            QString("The saved path %1 of %2 is %3; choosing its path afresh")
                .arg(path, RemotePath(entry),
                     shared ? "kept by another download too" : "not one of its own files"),
            entry[ServerTypes::user]);
        ForgetLocalPath(entry);
    }
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr entry)
{
    if (entry.IsConnected(singleDownload))
        return;
    for (ItemPtr other : entry[remoteFolder].GetItems(downloadEntry))
        if (other[downloadEntryStatus].AsString() != TransferStatus::complete)
            return;
    if (!IsDownloadPathSafe(entry))
        return;
    // Only the folders made for the entry's own components, never the download folder or the
    // "downloading" folder above them. One that holds another download's file is not empty, so
    // it stays; an empty one is made again when a download into it starts.
    const int ownFolders = DownloadPath::RelativeComponents(entry[remoteFolder].AsStdString(),
                                                            entry[subfolderSaveLevel].AsInt())
                               .size();
    QString folder = LocalPath(GetDownloadTargetFolder(entry, false));
    for (int removed = 0; removed < ownFolders && QDir().rmdir(folder); ++removed)
        folder = QFileInfo(folder).path();
}

bool TransferQueueManager::HasExcludedDownloadExtension(const QString& name)
{
    for (ItemPtr ending : d.GetType(excludedDownloadExtension)->GetItems())
        if (name.endsWith(ending.AsString(), Qt::CaseInsensitive))
            return true;
    return false;
}
