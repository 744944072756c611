#include "TransferQueueManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    const QString saved = Settings::GetText(TransferSettings::downloadFolder);
    return DownloadPath::IsUsableRoot(saved) ? saved : DownloadPath::DefaultRoot();
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
    const long long order = Settings::Get(TransferSettings::transferOrderCounter).AsInt64();
    entry.Connect(d.GetType(downloadOrder)->GetItem(Value(order)));
    Settings::Set(TransferSettings::transferOrderCounter, Value(order + 1));
    if (gp_server)
        gp_server->TrackUser(user);

    // A name that would lead outside the download folder is never asked for.
    if (!IsDownloadPathSafe(entry))
    {
        Log("Transfer Queue", 1,
            QString("Refusing to download %1: its path leaves the download folder")
                .arg(RemotePath(entry)),
            userItem);
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
    ItemPtr statusItem = d.GetType(downloadEntryStatus)->GetItem(Value(status));
    entry.Connect(statusItem);
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
    entry.Remove();
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
    const QStringList components =
        DownloadPath::RelativeComponents(folder.AsStdString(), entry[subfolderSaveLevel].AsInt());
    return components.isEmpty() ? QString() : "\\" + components.join('\\');
}

QString TransferQueueManager::DownloadRoot()
{
    return LocalDownloadRoot().replace('/', '\\');
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr entry, bool complete)
{
    QString folder = DownloadRoot();
    if (Settings::GetText(TransferSettings::dontSplitDownloads) != "yes")
        folder += complete ? "\\complete" : "\\downloading";
    const bool flat = Settings::IsYes(TransferSettings::dontCreateSubfoldersForSingleDownloads) &&
                      entry.IsConnected(singleDownload);
    if (!flat)
        folder += SubfolderPart(entry);
    return folder;
}

QString TransferQueueManager::GetDownloadTargetPath(ItemPtr entry, bool complete)
{
    return GetDownloadTargetFolder(entry, complete) + "\\" +
           DownloadPath::SafeComponent(entry[fileName].AsString());
}

QString TransferQueueManager::LocalPath(QString path)
{
    return path.replace('\\', '/');
}

bool TransferQueueManager::IsDownloadPathSafe(ItemPtr entry)
{
    const QString root = LocalDownloadRoot();
    return DownloadPath::IsInside(LocalPath(GetDownloadTargetPath(entry, true)), root) &&
           DownloadPath::IsInside(LocalPath(GetDownloadTargetPath(entry, false)), root);
}

bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr entry)
{
    return QFileInfo::exists(LocalPath(GetDownloadTargetPath(entry, true)));
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
