// The uploader's half of the exchange: what peers ask of our shared files.
#include "TransferQueueManager.h"

#include <QFile>

#include "Data.h"
#include "Log.h"
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
} // namespace

void TransferQueueManager::OnQueueUploadRequested(QString i_user, QString i_file)
{
    ItemPtr user = UserItemOf(i_user);
    Log(logArea, 1, QString("Queue upload requested by %1 for file %2").arg(i_user, i_file), user);
    ItemPtr file = sharedFoldersManager
                       ? sharedFoldersManager->GetSharedFileItem(QString(i_file).replace('\\', '/'))
                       : ItemPtr();
    if (file.IsNull() || !sharedFoldersManager->IsFileSharedWithUser(file, i_user))
    {
        RefuseUpload(user, i_file, "Denied, file not shared", "File not shared.");
        return;
    }
    if (Settings::IsYes(TransferSettings::finishUploadsAndQuit, Settings::runtime))
    {
        RefuseUpload(user, i_file, "Denied, pending shutdown.", "Pending shutdown.");
        return;
    }
    if (RequeueExistingUpload(user, file))
        return;
    const int queued = int(user.GetItems(uploadEntry)
                               .Connected(uploadEntryStatus, Value(TransferStatus::queued))
                               .Size());
    if (queued >= Settings::Get(TransferSettings::maxQueuedUploadsPerUser).AsInt())
    {
        RefuseUpload(user, i_file, "Denied, too many files already queued by user",
                     "Too many files");
        return;
    }
    QueueNewUpload(user, file, i_file);
    if (Settings::IsYes(TransferSettings::checkForEmptyShares) &&
        !user.IsConnected(emptyShareCheckStatus) && !user.IsConnected(ServerTypes::inUserList))
    {
        if (peerMessenger)
            peerMessenger->GetUserSharedFiles(i_user);
        ReplaceValue(user, emptyShareCheckStatus, Value("requested"));
    }
    StartNewUploads();
}

void TransferQueueManager::RefuseUpload(ItemPtr user, const QString& file, const char* logLine,
                                        const char* reason)
{
    Log(logArea, 2, logLine, user);
    if (peerMessenger)
        peerMessenger->DenyUpload(user.AsString(), file, reason);
}

bool TransferQueueManager::RequeueExistingUpload(ItemPtr user, ItemPtr file)
{
    ItemPtr entry = EntryConnectedToAll(uploadEntry, {user, file});
    if (entry.IsNull())
        return false;
    ItemPtr status = entry[uploadEntryStatus];
    if (status.AsString() == TransferStatus::queued || IsActiveStatus(status))
    {
        Log(logArea, 2, "Already queued", user);
        return true;
    }
    Log(logArea, 2, QString("%1, re-queueing").arg(status.AsString()), user);
    SetUploadEntryStatus(entry, TransferStatus::queued);
    StartNewUploads();
    return true;
}

ItemPtr TransferQueueManager::QueueNewUpload(ItemPtr user, ItemPtr file, const QString& requested)
{
    ItemPtr entry = d.GetType(uploadEntry)->NewItem();
    entry.Connect(user);
    entry.Connect(file);
    entry.Connect(d.GetType(filenameAsRequested)->GetItem(Value(requested)));
    SetUploadEntryStatus(entry, TransferStatus::queued);
    const long long order = Settings::Get(TransferSettings::transferOrderCounter).AsInt64();
    entry.Connect(d.GetType(uploadOrder)->GetItem(Value(order)));
    Settings::Set(TransferSettings::transferOrderCounter, Value(order + 1));
    OrderNewUpload(entry);
    Log(logArea, 2, "Queued", user);
    if (gp_server)
        gp_server->TrackUser(user.AsString());
    return entry;
}

void TransferQueueManager::OnUploadPlaceInLineRequested(QString i_user, QString i_fileName)
{
    ItemPtr name = d.GetType(filenameAsRequested)->HasItem(Value(i_fileName));
    ItemPtr user = d.GetType(ServerTypes::user)->HasItem(Value(i_user));
    if (name.IsNull() || user.IsNull())
        return;
    ItemPtr entry = name.GetItems(uploadEntry).Connected(user);
    const long long place = entry.IsNull() ? -1 : uploadLine.NumberOf(entry);
    if (place < 0 || !peerMessenger)
        return;
    peerMessenger->SendUploadPlaceInLine(i_user, i_fileName, int(place));
}

void TransferQueueManager::OnFileTransferResponse(QString i_user, uint i_req, bool i_accepted, bool,
                                                  qint64, QString i_denialReason)
{
    ItemPtr user = UserItemOf(i_user);
    Log(logArea, 1,
        QString("Received file transfer response from user %1 for req %2, transfer %3")
            .arg(i_user, QString::number(i_req), i_accepted ? "accepted" : "not accepted"),
        user);
    ItemPtr request = d.GetType(transferReq)->HasItem(Value(i_req));
    if (request.IsNull())
    {
        Log(logArea, 2, "req not found", user);
        return;
    }
    if (request.IsConnected(downloadEntry))
    {
        Log(logArea, 2, "Found download, not processing", user);
        return;
    }
    ItemPtr entry = request[uploadEntry];
    if (entry.IsNull())
    {
        Log(logArea, 2, "Neither upload or download attached to req, weird", user);
        return;
    }
    Log(logArea, 2, "Found upload", user);
    if (entry[ServerTypes::user] != user)
    {
        Log(logArea, 2,
            QString("Upload user %1 not the same as user who opened the connection, not doing "
                    "anything")
                .arg(entry[ServerTypes::user].AsString()),
            user);
        return;
    }
    if (!i_accepted)
    {
        Log(logArea, 2,
            QString("Upload was not accepted, marking denied. Reason: %1").arg(i_denialReason),
            user);
        ReplaceValue(entry, denialReason, Value(i_denialReason));
        SetUploadEntryStatus(entry, TransferStatus::denied);
        StartNewUploads();
        return;
    }
    const QString status = entry[uploadEntryStatus].AsString();
    if (status != TransferStatus::requesting)
    {
        Log(logArea, 2,
            QString("Upload no longer in requesting phase, instead status is %1. Not processing.")
                .arg(status),
            user);
        return;
    }
    OpenAcceptedUpload(entry);
}

QString TransferQueueManager::SharedFileLocalPath(ItemPtr shared)
{
    using namespace SharesTypes;
    return LocalPath(shared[sharedFileFolder].AsString() + "/" + shared[sharedFileName].AsString());
}

void TransferQueueManager::OpenAcceptedUpload(ItemPtr entry)
{
    using namespace SharesTypes;
    ItemPtr user = entry[ServerTypes::user];
    ItemPtr shared = entry[sharedFile];
    auto* file = new QFile(SharedFileLocalPath(shared));
    if (shared.IsNull() || !file->open(QIODevice::ReadOnly))
    {
        delete file;
        Log(logArea, 2,
            "File could not be opened, marking local error and sending denial message. "
            "Shouldn't we have done this before we requested the transfer?",
            user);
        if (peerMessenger)
            peerMessenger->DenyUpload(user.AsString(), entry[filenameAsRequested].AsString(),
                                      "File read error.");
        SetUploadEntryStatus(entry, TransferStatus::localError);
        StartNewUploads();
        return;
    }
    Log(logArea, 2, "Requesting file connection to user", user);
    if (peerMessenger)
        peerMessenger->RequestFileConnectionToUser(user.AsString());
    entry.Connect(d.GetType(uploadFile)->GetItem(Value(file)));
    SetUploadEntryStatus(entry, TransferStatus::connecting);
}
