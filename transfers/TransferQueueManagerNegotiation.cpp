// The downloader's half of the exchange with the peer that holds a file.
#include "TransferQueueManager.h"

#include <cstdint>

#include "Data.h"
#include "ExtendedAsciiTranslator.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "MemStream.h"
#include "PeerMessageCode.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "TransferTypes.h"

using namespace TransferTypes;

namespace {
const char* const logArea = "Transfer Queue";

QString TimeText(const QDateTime& time)
{
    return time.toString(Qt::TextDate);
}
} // namespace

ItemPtr TransferQueueManager::UserItemOf(const QString& user)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(user));
}

void TransferQueueManager::ReplaceValue(ItemPtr holder, const char* type, const Value& value)
{
    // Value items are shared; one that nothing holds any more goes at once, so that a peer
    // sending ever new numbers or reasons does not fill the store.
    const ItemPtr old = holder[type];
    const ItemPtr fresh = d.GetType(type)->GetItem(value);
    holder.Connect(fresh);
    if (!old.IsNull() && old != fresh && old.IsDisconnectedFromAll())
        old.Remove();
}

ItemPtr TransferQueueManager::FindDownloadEntry(const QString& user, const string& file)
{
    return GetDownloadEntry(user, GetFileName(file), GetFolder(file));
}

void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr entry)
{
    ItemPtr user = entry[ServerTypes::user];
    const QString remotePath = RemotePath(entry);
    const QString status = entry[downloadEntryStatus].AsString();
    if (status == TransferStatus::localError)
    {
        Log(logArea, 1, QString("Download status %1, not re-queueing %2").arg(status, remotePath),
            user);
        return;
    }
    if (!user.IsConnected(ServerTypes::isOnline))
    {
        Log(logArea, 1,
            QString("User %1 offline, not re-queueing %2").arg(user.AsString(), remotePath), user);
        return;
    }
    Log(logArea, 1,
        QString("User %1 appears to still be online, re-queueing %2")
            .arg(user.AsString(), remotePath),
        user);
    if (peerMessenger)
        peerMessenger->QueueDownload(user.AsString(), entry[remoteFolder].AsStdString() + "\\" +
                                                          entry[fileName].AsStdString());
}

void TransferQueueManager::RequeueUserDownloads(ItemPtr user)
{
    RequeueUserDownloadsAt(user, QDateTime::currentDateTime());
}

void TransferQueueManager::RequeueUserDownloadsAt(ItemPtr user, const QDateTime& now)
{
    const ItemSet entries = user.GetItems(downloadEntry);
    if (entries.Empty())
        return;
    Log(logArea, 1, QString("Requeueing downloads from user %1").arg(user.AsString()), user);
    for (ItemPtr entry : entries.SortNumericBy(downloadOrder, true))
    {
        const QString status = entry[downloadEntryStatus].AsString();
        if (status != TransferStatus::complete && status != TransferStatus::denied)
            RequeueDownload(entry);
    }
    ReplaceValue(user, lastQueueRequestTime, Value(TimeText(now)));
    ReplaceValue(user, nextPlaceInLineRequestTime, Value(TimeText(now.addSecs(30))));
}

void TransferQueueManager::OnUserOnline(ItemPtr user)
{
    Log(logArea, 1, QString("User %1 went online").arg(user.AsString()), user);
    RequeueUserDownloads(user);
    uploadLine.Arrive(user);
    StartNewUploads();
}

void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr entry)
{
    ItemPtr user = entry[ServerTypes::user];
    MemStream message;
    message.Write(std::uint32_t(PeerMessageCode::PM_UPLOAD_PLACE_IN_LINE_REQUEST));
    message.Write(RemotePath(entry));
    Log(logArea, 1,
        QString("Requesting place in line for download of %1 from %2")
            .arg(entry[fileName].AsString(), user.AsString()),
        user);
    if (peerMessenger)
        peerMessenger->SendMessage(user.AsString(), message);
}

void TransferQueueManager::OnDownloadPlaceInLine(QString i_user, string i_file, int i_place)
{
    ItemPtr entry = FindDownloadEntry(i_user, i_file);
    if (entry.IsNull())
        return;
    ReplaceValue(entry, placeInLine, Value(i_place));
}

void TransferQueueManager::OnFileTransferRequest(QString i_user, int i_direction, uint i_req,
                                                 string i_file, qint64 i_fileSize)
{
    if (i_direction != 1)
    {
        // The peer wants a file of ours: that is a queue request by another name.
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(i_user, i_req, "Queued");
        OnQueueUploadRequested(i_user, ToQString(i_file));
        return;
    }
    ItemPtr user = UserItemOf(i_user);
    Log(logArea, 1,
        QString("Received upload request from %1 for file %2, req %3")
            .arg(i_user, ToQString(i_file), QString::number(i_req)),
        user);
    ItemPtr entry = FindDownloadEntry(i_user, i_file);
    if (entry.IsNull())
        entry = AddPushedDownload(i_user, i_file, i_fileSize);
    if (entry.IsNull())
    {
        RefuseTransfer(user, i_req, "Cancelled");
        return;
    }
    if (entry[downloadEntryStatus].AsString() == TransferStatus::complete)
    {
        RefuseTransfer(user, i_req, "Complete");
        return;
    }
    // A local error may stand for a name that leads outside the download folder; nothing may
    // be written for it, whoever offers it.
    if (!IsDownloadPathSafe(entry))
    {
        RefuseTransfer(user, i_req, "Cancelled");
        return;
    }

    // The size is the one the user queued. A file offered at another size is another version
    // of it: taking it would mix it with what the partial file holds, and an offer of 0 or of
    // far too much would be written as the whole file.
    const qint64 queued = entry[PeerTypes::fileSize].AsInt64();
    if (i_fileSize != queued)
    {
        RefuseTransfer(user, i_req, "Cancelled");
        const QString reason =
            QString("File size changed: offered %1 bytes, %2 queued").arg(i_fileSize).arg(queued);
        Log(logArea, 2, reason, user);
        if (!IsActiveStatus(entry[downloadEntryStatus]))
        {
            ReplaceValue(entry, denialReason, Value(reason));
            SetDownloadEntryStatus(entry, TransferStatus::denied);
        }
        return;
    }

    // Within one user a request number names one entry: the latest to receive it.
    ItemPtr request = d.GetType(remoteTransferReq)->GetItem(Value(i_req));
    for (ItemPtr holder : request.GetItems(downloadEntry).Connected(user))
        holder.Disconnect(request);
    ReplaceValue(entry, remoteTransferReq, Value(i_req));

    if (entry[downloadEntryStatus].AsString() == TransferStatus::downloading)
    {
        Log(logArea, 2, "Transfer is already downloading, cancelling...", user);
        SetDownloadEntryStatus(entry, TransferStatus::aborted);
    }
    if (peerMessenger)
        peerMessenger->AcceptTransferRequest(i_user, i_req, false, 0);
    Log(logArea, 2, "Accepted", user);
}

void TransferQueueManager::RefuseTransfer(ItemPtr user, uint request, const char* reason)
{
    Log(logArea, 2, QString("Denied, %1").arg(reason), user);
    if (peerMessenger)
        peerMessenger->DenyTransferRequest(user.AsString(), request, reason);
}

ItemPtr TransferQueueManager::AddPushedDownload(const QString& user, const string& file,
                                                qint64 size)
{
    if (!CanAcceptUserInitiatedUploadsFrom(user) || size < 0)
        return ItemPtr();
    ItemPtr entry = d.GetType(downloadEntry)->NewItem();
    entry.Connect(UserItemOf(user));
    entry.Connect(d.GetType(fileName)->GetItem(Value(GetFileName(file))));
    entry.Connect(d.GetType(remoteFolder)->GetItem(Value(GetFolder(file))));
    entry.Connect(d.GetType(PeerTypes::fileSize)->GetItem(Value(size)));
    entry.Connect(d.GetType(subfolderSaveLevel)->GetItem(Value(0)));
    if (!IsDownloadPathSafe(entry))
    {
        Log(logArea, 2,
            QString("Refusing %1: its path leaves the download folder").arg(ToQString(file)),
            UserItemOf(user));
        entry.Remove();
        return ItemPtr();
    }
    const long long order = Settings::Get(TransferSettings::transferOrderCounter).AsInt64();
    entry.Connect(d.GetType(downloadOrder)->GetItem(Value(order)));
    Settings::Set(TransferSettings::transferOrderCounter, Value(order + 1));
    if (gp_server)
        gp_server->TrackUser(user);
    SetDownloadEntryStatus(entry, TransferStatus::queued);
    return entry;
}

ItemPtr TransferQueueManager::FindNotifiedDownload(const QString& user, const string& file,
                                                   const QString& logLine)
{
    ItemPtr userItem = UserItemOf(user);
    Log(logArea, 1, logLine, userItem);
    ItemPtr entry = FindDownloadEntry(user, file);
    if (entry.IsNull())
        Log(logArea, 2, "Download not found.", userItem);
    return entry;
}

void TransferQueueManager::OnUploadDeniedNotification(QString i_user, string i_file,
                                                      QString i_reason)
{
    ItemPtr entry = FindNotifiedDownload(
        i_user, i_file,
        QString("Received peer notification from %1 that upload of %2 was denied, reason: %3")
            .arg(i_user, ToQString(i_file), i_reason));
    if (entry.IsNull())
        return;
    Log(logArea, 2, "Download found, marking as denied.", entry[ServerTypes::user]);
    ReplaceValue(entry, denialReason, Value(i_reason));
    SetDownloadEntryStatus(entry, TransferStatus::denied);
}

void TransferQueueManager::OnUploadFailedNotification(QString i_user, string i_file)
{
    ItemPtr entry =
        FindNotifiedDownload(i_user, i_file,
                             QString("Received peer notification from %1 that upload of %2 failed")
                                 .arg(i_user, ToQString(i_file)));
    if (entry.IsNull())
        return;
    ItemPtr user = entry[ServerTypes::user];
    Log(logArea, 2, "Download found!", user);
    QueueDownloadIfUserOnline(entry);
    ReplaceValue(user, lastQueueRequestTime, Value(TimeText(QDateTime::currentDateTime())));
}

void TransferQueueManager::OnQueueDownloadRequested(QString i_user, string i_fileName,
                                                    qint64 i_fileSize)
{
    if (!CanAcceptUserInitiatedUploadsFrom(i_user))
        return;
    AddDownload(i_user, GetFileName(i_fileName), GetFolder(i_fileName), i_fileSize, false, 0);
}

bool TransferQueueManager::CanAcceptUserInitiatedUploadsFrom(const QString& user)
{
    ItemPtr listed = UserItemOf(user)[ServerTypes::inUserList];
    if (listed.IsNull())
        return false;
    if (Settings::IsYes(TransferSettings::acceptUserlistUploads))
        return true;
    return !listed.GetItems(ServerTypes::userListGroup)
                .Connected(ServerTypes::acceptUploads)
                .Empty();
}

void TransferQueueManager::OnUserShare(QString i_user, FileInfoMap& i_share,
                                       AttributeTranslationTable&)
{
    ItemPtr user = UserItemOf(i_user);
    if (user[emptyShareCheckStatus].AsString() != "requested")
        return;
    if (!i_share.empty())
    {
        ReplaceValue(user, emptyShareCheckStatus, Value("not_empty"));
        return;
    }
    ReplaceValue(user, emptyShareCheckStatus, Value("empty"));
    const QString message = Settings::GetText(TransferSettings::emptyShareMessage);
    if (!Settings::IsYes(TransferSettings::checkForEmptyShares) ||
        user.IsConnected(ServerTypes::inUserList) || message.isEmpty())
        return;
    if (gp_server)
        gp_server->SendPrivateChat(i_user, message);
    Log("Shared", 1, QString("Sent empty share warning message to user %1").arg(i_user), user);
    ReplaceValue(user, sentEmptyShareWarningMessage, Value(message));
}
