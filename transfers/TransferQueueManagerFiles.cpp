// File connections: binding a file link to its download or upload entry and handing it to a
// transfer thread.
#include "TransferQueueManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>

#include "Data.h"
#include "DownloadPath.h"
#include "DownloadThread.h"
#include "Log.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTypes.h"
#include "TransferTypes.h"
#include "UploadThread.h"

using namespace TransferTypes;

namespace {
const char* const logArea = "Transfer Queue";

void CloseLater(QTcpSocket* socket)
{
    socket->close();
    socket->deleteLater();
}

// The first download of the user that was given this request number.
ItemPtr DownloadOfRequest(const QString& user, uint request)
{
    ItemPtr userItem = d.GetType(ServerTypes::user)->HasItem(Value(user));
    ItemPtr number = d.GetType(remoteTransferReq)->HasItem(Value(request));
    if (userItem.IsNull() || number.IsNull())
        return ItemPtr();
    return number.GetItems(downloadEntry).Connected(userItem);
}

// The size the peer was offered for the upload, which its file link sends.
qint64 AnnouncedSize(ItemPtr entry)
{
    return entry[PeerTypes::fileSize].AsInt64();
}

void WriteOffset(QTcpSocket* socket, qint64 offset)
{
    char bytes[8];
    for (int index = 0; index < 8; ++index)
        bytes[index] = static_cast<char>(static_cast<quint64>(offset) >> (8 * index));
    socket->write(bytes, 8);
    socket->flush();
}
} // namespace

void TransferQueueManager::OnFileConnection(QString i_user, QTcpSocket* ip_socket, uint i_requestID)
{
    ItemPtr user = d.GetType(ServerTypes::user)->GetItem(Value(i_user));
    Log(logArea, 1,
        QString("File connection created by user %1 for req %2").arg(i_user).arg(i_requestID),
        user);
    ItemPtr entry = DownloadOfRequest(i_user, i_requestID);
    if (entry.IsNull())
    {
        CloseLater(ip_socket);
        Log(logArea, 2, "Download not found, aborting", user);
        return;
    }
    if (!MayTakeFileConnection(entry))
    {
        CloseLater(ip_socket);
        return;
    }

    // No folder is made before the path is known to be free and safe.
    const QString path = PartialPathOf(entry);
    auto* file = new QFile(path);
    if (path.isEmpty() || !IsDownloadPathSafe(entry) || !QDir().mkpath(QFileInfo(path).path()) ||
        !file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
    {
        SetDownloadEntryStatus(entry, TransferStatus::localError);
        delete file;
        CloseLater(ip_socket);
        Log(logArea, 2,
            path.isEmpty() ? "Every numbered name of the file is taken, aborting"
                           : "Could not open file, aborting",
            user);
        return;
    }
    // From now on the file is this entry's, wherever later settings would put a new one.
    ReplaceValue(entry, downloadLocalPath, Value(path));
    const qint64 offset = file->pos();
    WriteOffset(ip_socket, offset);
    const qint64 size = entry[PeerTypes::fileSize].AsInt64();
    if (offset >= size)
    {
        // Nothing is left to receive: no thread is started for it.
        delete file;
        CloseLater(ip_socket);
        if (offset > size)
        {
            SetDownloadEntryStatus(entry, TransferStatus::localError);
            Log(logArea, 2,
                QString("Partial file holds %1 bytes of a file of %2, aborting")
                    .arg(offset)
                    .arg(size),
                user);
            return;
        }
        FinishDownload(entry);
        return;
    }
    StartDownloadThread(entry, ip_socket, file, offset);
    Log(logArea, 2, "Downloading", user);
}

bool TransferQueueManager::MayTakeFileConnection(ItemPtr entry)
{
    ItemPtr user = entry[ServerTypes::user];
    // Two threads appending to one partial file would corrupt it.
    const QString status = entry[downloadEntryStatus].AsString();
    if (!entry[downloadThread].IsNull() || status == TransferStatus::complete)
    {
        Log(logArea, 2, QString("Download already %1, refusing second file connection").arg(status),
            user);
        return false;
    }
    const qint64 size = entry[PeerTypes::fileSize].AsInt64();
    if (size < 0)
    {
        SetDownloadEntryStatus(entry, TransferStatus::aborted);
        Log(logArea, 2, QString("Invalid file size %1, aborting").arg(size), user);
        return false;
    }
    return true;
}

void TransferQueueManager::StartDownloadThread(ItemPtr entry, QTcpSocket* socket, QFile* file,
                                               qint64 offset)
{
    entry.Connect(d.GetType(downloadSocket)->NewItem(Value(socket)));
    entry.Connect(d.GetType(downloadFile)->NewItem(Value(file)));
    entry.Connect(d.GetType(writePosition)->NewItem(Value(new qint64(offset))));
    SetDownloadEntryStatus(entry, TransferStatus::downloading);
    AttachProgressCells(entry);

    socket->disconnect();
    auto* thread = new DownloadThread(socket, file, entry[PeerTypes::fileSize].AsInt64(), offset);
    socket->setParent(nullptr);
    socket->moveToThread(thread);
    entry.Connect(d.GetType(downloadThread)->NewItem(Value(static_cast<TransferThread*>(thread))));
    connect(thread, &DownloadThread::DownloadError, this, &TransferQueueManager::OnDownloadError);
    connect(thread, &DownloadThread::DownloadProgress, this,
            &TransferQueueManager::OnDownloadProgress);
    connect(thread, &DownloadThread::DownloadComplete, this,
            &TransferQueueManager::OnDownloadComplete);
    thread->start();
}

void TransferQueueManager::OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket)
{
    ItemPtr user = d.GetType(ServerTypes::user)->HasItem(Value(i_user));
    ItemPtr connecting = d.GetType(uploadEntryStatus)->HasItem(Value(TransferStatus::connecting));
    ItemPtr entry = user.IsNull() || connecting.IsNull()
                        ? ItemPtr()
                        : ItemPtr(user.GetItems(uploadEntry).Connected(connecting));
    if (entry.IsNull() || entry[uploadFile].IsNull())
    {
        ip_socket->deleteLater();
        return;
    }
    StartUploadThread(entry, ip_socket);
}

void TransferQueueManager::StartUploadThread(ItemPtr entry, QTcpSocket* socket)
{
    entry.Connect(d.GetType(uploadSocket)->NewItem(Value(socket)));
    SetUploadEntryStatus(entry, TransferStatus::uploading);
    AttachProgressCells(entry);
    entry.Connect(d.GetType(readPosition)->NewItem(Value(new qint64(0))));

    socket->disconnect();
    auto* thread =
        new UploadThread(socket, entry[uploadFile].AsPointer<QFile>(),
                         static_cast<int>(entry[transferReq].AsUInt()), AnnouncedSize(entry));
    socket->setParent(nullptr);
    socket->moveToThread(thread);
    entry.Connect(d.GetType(uploadThread)->NewItem(Value(static_cast<TransferThread*>(thread))));
    connect(thread, &UploadThread::UploadError, this, &TransferQueueManager::OnUploadError);
    connect(thread, &UploadThread::UploadProgress, this, &TransferQueueManager::OnUploadProgress);
    connect(thread, &UploadThread::UploadComplete, this, &TransferQueueManager::OnUploadComplete);
    thread->start();
}

void TransferQueueManager::AttachProgressCells(ItemPtr entry)
{
    // Cells left by an earlier run of the same entry are freed, not orphaned.
    RemoveCells(entry,
                {lastReceiptTime, lastSpeedMeasurementTime, bytesPerSecond, bytesSinceLastReceipt});
    const QDateTime now = QDateTime::currentDateTime();
    entry.Connect(d.GetType(lastReceiptTime)->NewItem(Value(new QDateTime(now))));
    entry.Connect(d.GetType(lastSpeedMeasurementTime)->NewItem(Value(new QDateTime(now))));
    entry.Connect(d.GetType(bytesPerSecond)->NewItem(Value(new int(0))));
    entry.Connect(d.GetType(bytesSinceLastReceipt)->NewItem(Value(new qint64(0))));
}

ItemPtr TransferQueueManager::EntryOfSendingThread(const char* threadType, const char* entryType)
{
    // The sender may be gone already: its address is only compared, never followed.
    auto* thread = static_cast<TransferThread*>(sender());
    ItemPtr item = d.GetType(threadType)->HasItem(Value(thread));
    return item.IsNull() ? ItemPtr() : item[entryType];
}

namespace {
template <class T> void WriteCell(ItemPtr cell, const T& value)
{
    if (auto* target = cell.AsPointer<T>())
        *target = value;
}

void WriteProgress(ItemPtr entry, const char* position, qint64 offset, int speed)
{
    WriteCell(entry[position], offset);
    WriteCell(entry[bytesPerSecond], speed);
    WriteCell(entry[lastReceiptTime], QDateTime::currentDateTime());
}
} // namespace

void TransferQueueManager::OnDownloadProgress(qint64 i_offset, int i_bytesPerSecond)
{
    if (ItemPtr entry = EntryOfSendingThread(downloadThread, downloadEntry))
    {
        WriteProgress(entry, writePosition, i_offset, i_bytesPerSecond);
        emit DownloadProgressed(entry);
    }
}

void TransferQueueManager::OnUploadProgress(qint64 i_offset, int i_bytesPerSecond)
{
    if (ItemPtr entry = EntryOfSendingThread(uploadThread, uploadEntry))
    {
        WriteProgress(entry, readPosition, i_offset, i_bytesPerSecond);
        emit UploadProgressed(entry);
    }
}

void TransferQueueManager::OnDownloadComplete()
{
    ItemPtr entry = EntryOfSendingThread(downloadThread, downloadEntry);
    if (entry.IsNull())
        return;
    // The thread may still be returning from its body; the file is closed once it has.
    entry[downloadThread].AsPointer<TransferThread>()->wait();
    FinishDownload(entry);
}

void TransferQueueManager::FinishDownload(ItemPtr entry)
{
    const QString destination = MoveToCompleteFolder(entry);
    if (destination.isEmpty())
    {
        SetDownloadEntryStatus(entry, TransferStatus::localError);
        return;
    }
    ReplaceValue(entry, downloadLocalPath, Value(destination));
    SetDownloadEntryStatus(entry, TransferStatus::complete);
    if (!Settings::IsYes(TransferSettings::dontSplitDownloads))
        RemoveDownloadDownloadingFolderIfAppropriate(entry);
    RecordCompleteDownload(entry);
}

// Where the finished file ends: its place under the complete folder (without the downloading
// folder, the partial file is usually there already). It keeps its name unless a file of that
// name is there or another download keeps that path (its file may be moved away for now): it
// then takes the first free numbered name, so that neither file is lost nor taken for the
// other. Empty when it could not be moved.
QString TransferQueueManager::MoveToCompleteFolder(ItemPtr entry)
{
    const QString source = PartialPathOf(entry);
    const QString wanted = LocalPath(GetDownloadTargetPath(entry, true));
    const QString destination = FreeNumberedPath(wanted, entry, source, false);
    if (destination == source)
        return source;
    QString failure;
    if (destination.isEmpty())
        failure = "every numbered name is taken";
    else if (!QDir().mkpath(QFileInfo(destination).path()))
        failure = "its folder could not be made";
    else if (!QFile::rename(source, destination))
        failure = QFile(source).exists() ? "the move failed" : "the finished file is missing";
    if (failure.isEmpty())
        return destination;
    Log(logArea, 1, QString("Could not move %1 to %2: %3").arg(source, wanted, failure),
        entry[ServerTypes::user]);
    return QString();
}

void TransferQueueManager::RecordCompleteDownload(ItemPtr entry)
{
    ItemPtr user = entry[ServerTypes::user];
    ItemPtr folder =
        d.GetType(completeDownloadFolder)->GetItem(Value(GetDownloadTargetFolder(entry, true)));
    // The name the file has on disk, which differs from the peer's when it clashed.
    const QString localName = QFileInfo(LocalPath(GetDownloadTargetPath(entry, true))).fileName();
    ItemPtr name = d.GetType(completeDownloadFilename)->GetItem(Value(localName));
    if (!user.GetItems(completeDownload).Connected(folder).Connected(name).Empty())
        return;
    ItemPtr record = d.GetType(completeDownload)->NewItem();
    record.Connect(user);
    record.Connect(folder);
    record.Connect(d.GetType(completeDownloadRelativeFolder)
                       ->GetItem(Value(GetDownloadRelativeDownloadFolder(entry))));
    record.Connect(name);
    record.Connect(d.GetType(completeDownloadFileSize)
                       ->GetItem(Value(entry[PeerTypes::fileSize].AsStdString())));
    record.Connect(d.GetType(completeDownloadCompletionTime)
                       ->GetItem(Value(QDateTime::currentDateTime().toString(Qt::TextDate))));
    if (ItemPtr search = entry[PeerTypes::searchRequestText])
        record.Connect(search);
    emit CompleteDownloadAdded(record);
}

void TransferQueueManager::OnDownloadError(QString i_reason)
{
    ItemPtr entry = EntryOfSendingThread(downloadThread, downloadEntry);
    if (entry.IsNull())
        return;
    ItemPtr user = entry[ServerTypes::user];
    Log(logArea, 1,
        QString("Error downloading %1 from %2. %3")
            .arg(entry[fileName].AsString(), user.AsString(), i_reason),
        user);
    // The partial file stays, so that the next file connection resumes at its length.
    SetDownloadEntryStatus(entry, TransferStatus::aborted);
}

void TransferQueueManager::OnUploadComplete()
{
    ItemPtr entry = EntryOfSendingThread(uploadThread, uploadEntry);
    if (entry.IsNull())
        return;
    const int speed = entry[bytesPerSecond].IsNull() ? 0 : *entry[bytesPerSecond].AsPointer<int>();
    Log(logArea, 1, QString("Recording upload speed of %1").arg(speed));
    if (AnnouncedSize(entry) > 1048576 && speed > 0 && gp_server)
        gp_server->SendUploadSpeed(speed);
    SetUploadEntryStatus(entry, TransferStatus::complete);
    StartNewUploads();
}

void TransferQueueManager::OnUploadError(QString i_reason)
{
    ItemPtr entry = EntryOfSendingThread(uploadThread, uploadEntry);
    if (entry.IsNull())
        return;
    ItemPtr user = entry[ServerTypes::user];
    ItemPtr shared = entry[SharesTypes::sharedFile];
    Log(logArea, 1,
        QString("Error uploading %1 to %2. %3")
            .arg(shared[SharesTypes::sharedFileFolder].AsString() + "/" +
                     shared[SharesTypes::sharedFileName].AsString(),
                 user.AsString(), i_reason),
        user);
    SetUploadEntryStatus(entry, TransferStatus::aborted);
    StartNewUploads();
}
