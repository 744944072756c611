#include "TransferQueueManager.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>

#include "Data.h"
#include "DataSaver.h"
#include "DownloadPath.h"
#include "Log.h"
#include "PathNode.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TimerManager.h"
#include "TransferThread.h"
#include "TransferTypes.h"
#include "TypeTable.h"

TransferQueueManager* transferQueueManager = nullptr;

namespace {
using namespace TransferTypes;
using TypeTable::RelationRow;
using TypeTable::TypeRow;

const TypeRow downloadTypes[] = {
    {downloadEntry, PrimacyRoot, true},
    {fileName, PrimacyLeaf, false},
    {remoteFolder, PrimacyIntermediate, false},
    {downloadFolder, PrimacyIntermediate, false},
    {transferReq, PrimacyLeaf, false},
    {remoteTransferReq, PrimacyLeaf, false},
    {downloadSocket, PrimacyRoot, false},
    {downloadFile, PrimacyRoot, false},
    {writePosition, PrimacyLeaf, false},
    {downloadEntryStatus, PrimacyRoot, false},
    {downloadOrder, PrimacyLeaf, false},
    {uploadSocket, PrimacyRoot, false},
    {uploadFile, PrimacyRoot, false},
    {readPosition, PrimacyLeaf, false},
    {uploadEntryStatus, PrimacyRoot, false},
    {uploadOrder, PrimacyLeaf, false},
    {isActive, PrimacyLeaf, true},
    {lastReceiptTime, PrimacyLeaf, false},
    {lastSpeedMeasurementTime, PrimacyLeaf, false},
    {bytesPerSecond, PrimacyLeaf, false},
    {bytesSinceLastReceipt, PrimacyLeaf, false},
    {placeInLine, PrimacyLeaf, false},
    {lastQueueRequestTime, PrimacyLeaf, false},
    {nextPlaceInLineRequestTime, PrimacyLeaf, false},
    {downloadThread, PrimacyRoot, false},
    {subfolderSaveLevel, PrimacyLeaf, false},
    {lastStatusChangeTime, PrimacyLeaf, false},
    {singleDownload, PrimacyLeaf, true},
    {downloadLocalPath, PrimacyLeaf, false},
};

const RelationRow downloadRelations[] = {
    {downloadEntry, ServerTypes::user, One, Many},
    {downloadEntry, fileName, One, Many},
    {downloadEntry, remoteFolder, One, Many},
    {downloadEntry, PeerTypes::fileSize, One, Many},
    {downloadEntry, downloadFolder, One, Many},
    {downloadEntry, transferReq, One, One},
    {downloadEntry, remoteTransferReq, One, Many},
    {downloadEntry, downloadSocket, One, One},
    {downloadEntry, downloadThread, One, One},
    {downloadEntry, downloadFile, One, One},
    {downloadEntry, writePosition, One, Many},
    {downloadEntry, downloadEntryStatus, One, Many},
    {downloadEntry, downloadOrder, One, One},
    {downloadEntry, lastReceiptTime, One, One},
    {downloadEntry, lastSpeedMeasurementTime, One, One},
    {downloadEntry, bytesPerSecond, One, One},
    {downloadEntry, bytesSinceLastReceipt, One, One},
    {downloadEntry, placeInLine, One, Many},
    {downloadEntry, subfolderSaveLevel, One, Many},
    {downloadEntry, lastStatusChangeTime, One, Many},
    {downloadEntry, singleDownload, One, Many},
    {downloadEntry, downloadLocalPath, One, Many},
    {downloadEntryStatus, isActive, One, Many},
    {ServerTypes::user, lastQueueRequestTime, One, Many},
    {ServerTypes::user, nextPlaceInLineRequestTime, One, Many},
};

const TypeRow uploadTypes[] = {
    {uploadEntry, PrimacyRoot, true},      {filenameAsRequested, PrimacyLeaf, false},
    {uploadStartTime, PrimacyLeaf, false}, {bytesUploaded, PrimacyLeaf, false},
    {uploadThread, PrimacyRoot, false},    {effectiveUploadOrder, PrimacyLeaf, false},
};

const RelationRow uploadRelations[] = {
    {uploadEntry, ServerTypes::user, One, Many},
    {uploadEntry, SharesTypes::sharedFile, One, Many},
    {uploadEntry, uploadSocket, One, One},
    {uploadEntry, uploadFile, One, One},
    {uploadEntry, readPosition, One, Many},
    {uploadEntry, uploadEntryStatus, One, Many},
    {uploadEntry, uploadOrder, One, One},
    {uploadEntry, transferReq, One, One},
    {uploadEntryStatus, isActive, One, Many},
    {uploadEntry, filenameAsRequested, One, Many},
    {uploadEntry, uploadStartTime, One, Many},
    {uploadEntry, bytesUploaded, One, Many},
    {uploadEntry, lastStatusChangeTime, One, Many},
    {uploadEntry, lastReceiptTime, One, One},
    {uploadEntry, lastSpeedMeasurementTime, One, One},
    {uploadEntry, bytesPerSecond, One, One},
    {uploadEntry, bytesSinceLastReceipt, One, One},
    {uploadEntry, uploadThread, One, One},
    {uploadEntry, effectiveUploadOrder, One, Many},
    // The size the peer was offered.
    {uploadEntry, PeerTypes::fileSize, One, Many},
};

const TypeRow laterTypes[] = {
    {denialReason, PrimacyLeaf, false},
    {completeDownload, PrimacyRoot, true},
    {completeDownloadFolder, PrimacyIntermediate, false},
    {completeDownloadRelativeFolder, PrimacyIntermediate, false},
    {completeDownloadFilename, PrimacyLeaf, false},
    {completeDownloadFileSize, PrimacyLeaf, false},
    {completeDownloadCompletionTime, PrimacyLeaf, false},
    {emptyShareCheckStatus, PrimacyLeaf, false},
    {sentEmptyShareWarningMessage, PrimacyLeaf, false},
    {excludedDownloadExtension, PrimacyRoot, false},
};

const RelationRow laterRelations[] = {
    {denialReason, downloadEntry, Many, One},
    {denialReason, uploadEntry, Many, One},
    {completeDownload, ServerTypes::user, One, Many},
    {completeDownload, completeDownloadFolder, One, Many},
    {completeDownload, completeDownloadRelativeFolder, One, Many},
    {completeDownload, completeDownloadFilename, One, Many},
    {completeDownload, completeDownloadCompletionTime, One, Many},
    {completeDownload, completeDownloadFileSize, One, Many},
    {completeDownload, PeerTypes::searchRequestText, One, Many},
    {ServerTypes::user, emptyShareCheckStatus, One, Many},
    {ServerTypes::user, sentEmptyShareWarningMessage, One, Many},
};

// A default that a saved value replaces, written only when the key has none.
void DefaultIfMissing(const char* key, const Value& value)
{
    if (Settings::Get(key).IsNull())
        Settings::Set(key, value);
}
} // namespace

TransferQueueManager::TransferQueueManager() : runStart(QDateTime::currentDateTime())
{
    transferQueueManager = this;
    DeclareDownloadTypes();
    DeclareUploadTypes();
    ConnectPeerMessenger();
    WriteDefaults();

    // The words whose transfers hold a thread, a socket and a file.
    ItemPtr(d.GetType(downloadEntryStatus)->GetItem(TransferStatus::downloading)).NewItem(isActive);
    for (const char* word : {TransferStatus::connecting, TransferStatus::uploading,
                             TransferStatus::requesting, TransferStatus::waitingForOffset})
        ItemPtr(d.GetType(uploadEntryStatus)->GetItem(word)).NewItem(isActive);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    if (timerManager)
    {
        connect(&timerManager->fiveMinuteTimer, &QTimer::timeout, this,
                &TransferQueueManager::PeriodicCheck);
        connect(&timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &TransferQueueManager::EveryHalfMinute);
    }
    DeclareLaterTypes();
}

TransferQueueManager::~TransferQueueManager()
{
    // Threads, sockets, files and progress cells of running transfers belong to the entries;
    // stop and free them before the store outlives this object, uploads first. No event loop may
    // run again to delete the threads later. Every thread is asked before any is waited for.
    for (const char* type : {uploadThread, downloadThread})
        for (ItemPtr thread : d.GetType(type)->GetItems())
            if (auto* running = thread.AsPointer<TransferThread>())
                running->SignalExit();
    for (ItemPtr entry : d.GetType(uploadEntry)->GetItems())
    {
        delete EndThread(entry[uploadThread]);
        DropSocket(entry[uploadSocket], true);
        DropFile(entry[uploadFile]);
        DropReadPosition(entry);
        RemoveCells(entry, {lastReceiptTime, lastSpeedMeasurementTime, bytesPerSecond,
                            bytesSinceLastReceipt});
    }
    for (ItemPtr entry : d.GetType(downloadEntry)->GetItems())
    {
        delete EndThread(entry[downloadThread]);
        DropSocket(entry[downloadSocket], true);
        DropFile(entry[downloadFile]);
        RemoveCells(entry, {writePosition, lastReceiptTime, lastSpeedMeasurementTime,
                            bytesPerSecond, bytesSinceLastReceipt});
    }
    if (sharedFoldersManager)
        sharedFoldersManager->SetUploadQueue(nullptr);
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
}

void TransferQueueManager::DeclareDownloadTypes()
{
    TypeTable::Declare(d, downloadTypes, downloadRelations);
    Listen(d.GetType(writePosition)->itemRemoved, this,
           &TransferQueueManager::OnWritePositionRemoved);
    Listen(d.GetType(lastReceiptTime)->itemRemoved, this,
           &TransferQueueManager::OnLastReceiptTimeRemoved);
    Listen(d.GetType(lastSpeedMeasurementTime)->itemRemoved, this,
           &TransferQueueManager::OnLastSpeedMeasurementTimeRemoved);
    Listen(d.GetType(bytesPerSecond)->itemRemoved, this,
           &TransferQueueManager::OnBytesPerSecondRemoved);
    Listen(d.GetType(bytesSinceLastReceipt)->itemRemoved, this,
           &TransferQueueManager::OnBytesSinceLastReceiptRemoved);
    Listen(d.GetType(downloadFolder)->itemAdded, this,
           &TransferQueueManager::OnDownloadFolderAdded);
    Listen(d.GetType(downloadFolder)->itemRemoved, this,
           &TransferQueueManager::OnDownloadFolderRemoved);
    for (ItemPtr name : d.GetType(downloadFolder)->GetItems())
        OnDownloadFolderAdded(name);
    if (!dataSaver)
        return;
    dataSaver->AddSavedType(downloadEntry);
    for (const char* type :
         {ServerTypes::user, fileName, remoteFolder, PeerTypes::fileSize, downloadFolder,
          downloadEntryStatus, downloadOrder, subfolderSaveLevel, downloadLocalPath})
        dataSaver->AddSavedByConnectionType(type, downloadEntry);
}

void TransferQueueManager::DeclareUploadTypes()
{
    TypeTable::DeclareTypes(d, uploadTypes);
    Listen(d.GetType(bytesUploaded)->itemRemoved, this,
           &TransferQueueManager::OnBytesUploadedRemoved);
    Listen(d.GetType(uploadEntry)->itemRemoved, this, &TransferQueueManager::OnUploadEntryRemoved);
    TypeTable::Relate(d, uploadRelations);
    auto* user = new PathNode(&d, ServerTypes::user);
    new PathNode(user, ServerTypes::isOnline, PathOnConnect);
    d.AddPathHandler(user, this, &TransferQueueManager::OnUserOnline);
    if (sharedFoldersManager)
        sharedFoldersManager->SetUploadQueue(this);
}

void TransferQueueManager::DeclareLaterTypes()
{
    TypeTable::Declare(d, laterTypes, laterRelations);
    if (dataSaver)
        dataSaver->AddSavedType(excludedDownloadExtension);
}

void TransferQueueManager::ConnectPeerMessenger()
{
    if (!peerMessenger)
        return;
    connect(peerMessenger, &PeerMessenger::FileTransferRequested, this,
            &TransferQueueManager::OnFileTransferRequest);
    // File links are taken after the socket's own signal has returned: the socket then moves to
    // a transfer thread, and Qt must not touch it here any more.
    connect(peerMessenger, &PeerMessenger::FileConnectionRequested, this,
            &TransferQueueManager::OnFileConnection, Qt::QueuedConnection);
    connect(peerMessenger, &PeerMessenger::QueueUploadRequested, this,
            &TransferQueueManager::OnQueueUploadRequested);
    connect(peerMessenger, &PeerMessenger::QueueDownloadRequested, this,
            &TransferQueueManager::OnQueueDownloadRequested);
    connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this,
            &TransferQueueManager::OnFileConnectionAccepted, Qt::QueuedConnection);
    connect(peerMessenger, &PeerMessenger::FileTransferResponse, this,
            &TransferQueueManager::OnFileTransferResponse);
    connect(peerMessenger, &PeerMessenger::UploadFailed, this,
            &TransferQueueManager::OnUploadFailedNotification);
    connect(peerMessenger, &PeerMessenger::UploadDenied, this,
            &TransferQueueManager::OnUploadDeniedNotification);
    connect(peerMessenger, &PeerMessenger::UploadPlaceInLineRequested, this,
            &TransferQueueManager::OnUploadPlaceInLineRequested);
    connect(peerMessenger, &PeerMessenger::DownloadPlaceInLine, this,
            &TransferQueueManager::OnDownloadPlaceInLine);
    connect(peerMessenger, &PeerMessenger::UserShare, this, &TransferQueueManager::OnUserShare);
}

void TransferQueueManager::WriteDefaults()
{
    DefaultIfMissing(TransferSettings::downloadFolder, Value(DownloadPath::DefaultRoot()));
    DefaultIfMissing(TransferSettings::transferOrderCounter, "1");
    Settings::Set(TransferSettings::transferReqCounter, "1");
    if (Settings::Get(TransferSettings::uploadSpeedLimit).IsNull())
    {
        Settings::Set(TransferSettings::uploadSpeedLimit, "0");
        Settings::Set(TransferSettings::uploadSpeedLimitEnabled, "no");
    }
    Settings::Set(TransferSettings::uploadSlots, "1");
    Settings::Set(TransferSettings::checkForEmptyShares, "no");
    Settings::Set(TransferSettings::emptyShareMessage,
                  "It looks like you're not sharing any files. Please share something before "
                  "downloading anything from my own shares. Thanks.");
    Settings::Set(TransferSettings::maxQueuedUploadsPerUser, "200");
}

void TransferQueueManager::DataLoaded()
{
    // The loaded entries did not pass through the line; the next walk reads the whole queue.
    uploadLine.Flush();
    for (ItemPtr entry : d.GetType(downloadEntry)->GetItems())
        if (entry[downloadEntryStatus].AsString() != TransferStatus::complete)
            entry.Connect(d.GetType(downloadEntryStatus)->GetItem(TransferStatus::queued));
    if (gp_server)
        for (ItemPtr user : d.GetType(downloadEntry)->GetItems().GetItems(ServerTypes::user))
            gp_server->TrackUser(user.AsString());
    const QString folder = Settings::GetText(TransferSettings::downloadFolder);
    if (!DownloadPath::IsUsableRoot(folder))
    {
        Log("Transfer Queue", 1,
            QString("The saved download folder \"%1\" is not a full path; using %2 instead")
                .arg(folder, DownloadPath::DefaultRoot()));
        Settings::Set(TransferSettings::downloadFolder, Value(DownloadPath::DefaultRoot()));
    }
    CheckKeptPaths();
    emit TransfersLoaded();
    DetermineUploadSpeedLimit();
    if (Settings::Get(TransferSettings::uploadSlots).AsInt() < 1)
        Settings::Set(TransferSettings::uploadSlots, "1");
    if (Settings::Get(TransferSettings::maxQueuedUploadsPerUser).AsInt() <= 9)
        Settings::Set(TransferSettings::maxQueuedUploadsPerUser, "10");
}

void TransferQueueManager::NoData()
{
    d.GetType(excludedDownloadExtension)->GetItem(".ini");
}

// However an entry goes (the data browser can remove one too), the cache must not outlive it.
void TransferQueueManager::OnUploadEntryRemoved(ItemPtr item)
{
    if (item == lastOrderedUpload)
        lastOrderedUpload = ItemPtr();
    uploadLine.Forget(item);
}

void TransferQueueManager::OnDownloadFolderAdded(ItemPtr item)
{
    localFolderNames[item.AsString()] = item;
}

void TransferQueueManager::OnDownloadFolderRemoved(ItemPtr item)
{
    localFolderNames.erase(item.AsString());
}

bool TransferQueueManager::IsActiveStatus(ItemPtr status)
{
    return status.IsConnected(isActive);
}

// Asks before waiting: a thread in a wait step or a pacing sleep would otherwise hold the GUI
// thread until its transfer ends.
TransferThread* TransferQueueManager::EndThread(ItemPtr threadItem)
{
    if (threadItem.IsNull())
        return nullptr;
    auto* thread = threadItem.AsPointer<TransferThread>();
    threadItem.Remove();
    if (!thread)
        return nullptr;
    thread->SignalExit();
    thread->wait();
    // Reports it queued before it ended find no entry; later ones find no receiver.
    thread->disconnect();
    return thread;
}

void TransferQueueManager::StopThread(ItemPtr threadItem)
{
    if (TransferThread* thread = EndThread(threadItem))
        thread->deleteLater();
}

void TransferQueueManager::DropSocket(ItemPtr socketItem, bool cutSignals)
{
    if (socketItem.IsNull())
        return;
    auto* socket = socketItem.AsPointer<QTcpSocket>();
    socketItem.Remove();
    if (!socket)
        return;
    if (cutSignals)
        socket->disconnect();
    socket->close();
    socket->deleteLater();
}

void TransferQueueManager::DropFile(ItemPtr fileItem)
{
    if (fileItem.IsNull())
        return;
    auto* file = fileItem.AsPointer<QFile>();
    fileItem.Remove();
    if (!file)
        return;
    file->close();
    delete file;
}

void TransferQueueManager::DropReadPosition(ItemPtr entry)
{
    ItemPtr position = entry[readPosition];
    if (position.IsNull())
        return;
    delete position.AsPointer<qint64>();
    position.Remove();
}

void TransferQueueManager::RemoveCells(ItemPtr entry, std::initializer_list<const char*> cells)
{
    for (const char* cell : cells)
    {
        ItemPtr item = entry[cell];
        if (!item.IsNull())
            item.Remove();
    }
}

ItemPtr TransferQueueManager::EntryConnectedToAll(const char* entryType,
                                                  std::initializer_list<ItemPtr> partners,
                                                  ItemPtr except)
{
    Type* type = d.GetType(entryType);
    const ItemSet* fewest = nullptr;
    for (ItemPtr partner : partners)
    {
        if (partner.IsNull())
            return ItemPtr();
        const ItemSet* entries = partner->connections.ItemsOf(type);
        if (!entries)
            return ItemPtr();
        if (!fewest || entries->Size() < fewest->Size())
            fewest = entries;
    }
    if (!fewest)
        return ItemPtr();
    for (ItemPtr entry : *fewest)
    {
        bool all = entry != except;
        for (ItemPtr partner : partners)
            all = all && entry.IsConnected(partner);
        if (all)
            return entry;
    }
    return ItemPtr();
}
