#include "TransferQueueManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

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

template <class T> void FreeCell(ItemPtr item)
{
    delete item.AsPointer<T>();
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
    // Threads, sockets and files of running transfers belong to the entries; stop them before
    // the store outlives this object.
    for (ItemPtr entry : d.GetType(downloadEntry)->GetItems())
    {
        StopThread(entry[downloadThread], true);
        DropSocket(entry[downloadSocket], true);
        DropFile(entry[downloadFile]);
    }
    for (ItemPtr entry : d.GetType(uploadEntry)->GetItems())
    {
        StopThread(entry[uploadThread], true);
        DropSocket(entry[uploadSocket], true);
        DropFile(entry[uploadFile]);
        DropReadPosition(entry);
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
    if (!dataSaver)
        return;
    dataSaver->AddSavedType(downloadEntry);
    for (const char* type :
         {ServerTypes::user, fileName, remoteFolder, PeerTypes::fileSize, downloadFolder,
          downloadEntryStatus, downloadOrder, subfolderSaveLevel})
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
    connect(peerMessenger, &PeerMessenger::FileConnectionRequested, this,
            &TransferQueueManager::OnFileConnection);
    connect(peerMessenger, &PeerMessenger::QueueUploadRequested, this,
            &TransferQueueManager::OnQueueUploadRequested);
    connect(peerMessenger, &PeerMessenger::QueueDownloadRequested, this,
            &TransferQueueManager::OnQueueDownloadRequested);
    connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this,
            &TransferQueueManager::OnFileConnectionAccepted);
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

void TransferQueueManager::PeriodicCheck()
{}

void TransferQueueManager::EveryHalfMinute()
{
    EveryHalfMinuteAt(QDateTime::currentDateTime());
}

namespace {
QDateTime ReadTime(ItemPtr item)
{
    return QDateTime::fromString(item.AsString(), Qt::TextDate);
}
} // namespace

void TransferQueueManager::EveryHalfMinuteAt(const QDateTime& now)
{
    // Hand-shakes that stalled.
    ItemSet stalled;
    for (const char* word :
         {TransferStatus::requesting, TransferStatus::connecting, TransferStatus::waitingForOffset})
        stalled.Add(ItemPtr(d.GetType(uploadEntryStatus)->GetItem(word)).GetItems(uploadEntry));
    bool aborted = false;
    for (ItemPtr entry : stalled)
    {
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

    // Our queued downloads, asked for again and asked about.
    ItemSet users = ItemPtr(d.GetType(downloadEntryStatus)->GetItem(TransferStatus::queued))
                        .GetItems(downloadEntry)
                        .GetItems(ServerTypes::user)
                        .Connected(ServerTypes::isOnline);
    for (ItemPtr user : users)
    {
        if (IsActivelyDownloadingFromUser(user.AsString()))
            continue;
        const QDateTime last = ReadTime(user[lastQueueRequestTime]);
        if (!last.isValid() || last.msecsTo(QDateTime::currentDateTime()) >= 600000)
            RequeueUserDownloads(user);
    }
    for (ItemPtr user : users)
    {
        if (IsActivelyDownloadingFromUser(user.AsString()))
            continue;
        const QDateTime next = ReadTime(user[nextPlaceInLineRequestTime]);
        const QDateTime current = QDateTime::currentDateTime();
        if (next.isValid() && current < next)
            continue;
        ItemSet queued = user.GetItems(downloadEntry)
                             .Connected(downloadEntryStatus, Value(TransferStatus::queued));
        for (ItemPtr entry : queued.SortNumericBy(downloadOrder, true))
            RequestDownloadPlaceInLine(entry);
        user.Connect(d.GetType(nextPlaceInLineRequestTime)
                         ->GetItem(Value(current.addSecs(600).toString(Qt::TextDate))));
    }

    // Finishing the uploads before quitting.
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

// However an entry goes (the data browser can remove one too), the cache must not outlive it.
void TransferQueueManager::OnUploadEntryRemoved(ItemPtr item)
{
    if (item == lastOrderedUpload)
        lastOrderedUpload = ItemPtr();
}

// The negotiation with peers and the file connections are not taken on yet: these slots drop
// what they are given, and the sockets handed over are closed so that none is left behind.
void TransferQueueManager::OnFileTransferRequest(QString, int, uint, string, qint64)
{}
void TransferQueueManager::OnQueueUploadRequested(QString, QString)
{}
void TransferQueueManager::OnQueueDownloadRequested(QString, string, qint64)
{}
void TransferQueueManager::OnFileTransferResponse(QString, uint, bool, bool, qint64, QString)
{}
void TransferQueueManager::OnUploadFailedNotification(QString, string)
{}
void TransferQueueManager::OnUploadDeniedNotification(QString, string, QString)
{}
void TransferQueueManager::OnDownloadPlaceInLine(QString, string, int)
{}
void TransferQueueManager::OnUploadPlaceInLineRequested(QString, QString)
{}
void TransferQueueManager::OnUserShare(QString, FileInfoMap&, AttributeTranslationTable&)
{}
void TransferQueueManager::RequeueUserDownloads(ItemPtr)
{}
void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr)
{}
void TransferQueueManager::OnUserOnline(ItemPtr)
{}

void TransferQueueManager::OnFileConnection(QString, QTcpSocket* ip_socket, uint)
{
    ip_socket->close();
    ip_socket->deleteLater();
}

void TransferQueueManager::OnFileConnectionAccepted(QString, QTcpSocket* ip_socket)
{
    ip_socket->disconnect();
    ip_socket->close();
    ip_socket->deleteLater();
}

bool TransferQueueManager::IsActiveStatus(ItemPtr status)
{
    return status.IsConnected(isActive);
}

void TransferQueueManager::StopThread(ItemPtr threadItem, bool askToExit)
{
    if (threadItem.IsNull())
        return;
    auto* thread = threadItem.AsPointer<QThread>();
    threadItem.Remove();
    if (!thread)
        return;
    if (askToExit)
        thread->requestInterruption();
    thread->wait();
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
    FreeCell<qint64>(position);
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
                                                  std::initializer_list<ItemPtr> partners)
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
        bool all = true;
        for (ItemPtr partner : partners)
            all = all && entry.IsConnected(partner);
        if (all)
            return entry;
    }
    return ItemPtr();
}
