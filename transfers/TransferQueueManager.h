#pragma once

#include <initializer_list>
#include <list>
#include <map>
#include <string>

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>

#include "AttributeTranslationTable.h"
#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "FileInfoMap.h"
#include "ItemPtr.h"
#include "UploadLine.h"
#include "UploadQueue.h"

class QFile;
class QTcpSocket;
class TransferThread;

// The download and upload queues, kept as store items, with the upload slots and the shared
// upload speed limit. Made once at start-up, after the server connection, the peer messenger and
// the shares manager, and before the load.
class TransferQueueManager : public QObject,
                             public DataHandler,
                             public DataLoadedEventHandler,
                             public UploadQueue
{
    Q_OBJECT

public:
    using string = std::string;

    TransferQueueManager();
    ~TransferQueueManager() override;

    void DataLoaded() override;
    void NoData() override;

    // Downloads.
    ItemPtr AddDownload(const QString& user, const string& fileName, const string& remoteFolder,
                        qint64 size, bool singleFile, int level);
    ItemPtr GetDownloadEntry(const QString& user, const string& fileName,
                             const string& remoteFolder);
    void SetDownloadEntryStatus(ItemPtr entry, const QString& status);
    void RequeueDownload(ItemPtr entry);
    void RemoveDownload(ItemPtr entry);
    QString GetDownloadRelativeDownloadFolder(ItemPtr entry);
    // Paths with "\" as the only separator; LocalPath turns them into file-system paths.
    QString GetDownloadTargetFolder(ItemPtr entry, bool complete);
    QString GetDownloadTargetPath(ItemPtr entry, bool complete);
    static QString LocalPath(QString path);
    // Where the shared file is on our disk.
    static QString SharedFileLocalPath(ItemPtr shared);
    // Whether the entry's paths stay inside the download folder.
    bool IsDownloadPathSafe(ItemPtr entry);
    void RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr entry);
    bool DoesDownloadItemCompleteFilenameExist(ItemPtr entry);
    bool HasExcludedDownloadExtension(const QString& fileName);
    static QString RemotePath(ItemPtr entry);

    // Uploads.
    void AddUpload(const QString& user, const QString& path);
    void OrderNewUpload(ItemPtr entry);
    bool UploadEntrySortCompare(ItemPtr a, ItemPtr b);
    int GetUserGroupDownloadPriority(const QString& user);
    void StartNewUploads();
    void SetUploadEntryStatus(ItemPtr entry, const QString& status);
    void RemoveUpload(ItemPtr entry);
    void UnshareUser(const QString& user) override;
    void ReshareUser(const QString& user);
    void SetUploadSlots(int slotCount);
    bool IsFreeToUpload() override;
    int QueuedUploadCount() override;
    int ActiveUploadCount();
    int ActiveDownloadCount();
    bool IsActivelyDownloadingFromUser(const QString& user);
    bool AssertNoExtraUploads();
    bool CanAcceptUserInitiatedUploadsFrom(const QString& user);
    // The entry's place in the effective upload order, or -1 when it has none.
    long long EffectiveUploadOrder(ItemPtr entry);

    // The upload speed limit, in KiB/s.
    void DetermineUploadSpeedLimit();
    int GetUploadSpeed();
    int GetPerUploadSpeedLimit();
    qint64 GetUploadAllowance();
    void SetUploadSpeedLimit(int limit);
    void EnableUploadSpeedLimit(bool enable);
    // What an upload thread does around each chunk: pays its debt from the shared allowance
    // (what is left is returned), and gives back what it earned under its share and did not use.
    qint64 PayFromAllowance(qint64 debt);
    void AddEarnedToAllowance(int perUploadLimit, qint64 elapsedMs, qint64 debt);
    // The bytes an upload may send in the milliseconds at the limit, without overflow.
    static qint64 EarnedBytes(int limitKiB, qint64 elapsedMs);

    // The half-minute run, with its notion of now given.
    void EveryHalfMinuteAt(const QDateTime& now);
    void StartTimerTest();

signals:
    void DownloadProgressed(ItemPtr i_download);
    void UploadProgressed(ItemPtr i_upload);
    void TransfersLoaded();
    void CompleteDownloadAdded(ItemPtr i_download);

public slots:
    void OnFileTransferRequest(QString i_user, int i_direction, uint i_req, string i_file,
                               qint64 i_fileSize);
    void OnFileConnection(QString i_user, QTcpSocket* ip_socket, uint i_requestID);
    void OnQueueUploadRequested(QString i_user, QString i_file);
    void OnQueueDownloadRequested(QString i_user, string i_fileName, qint64 i_fileSize);
    void OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void OnFileTransferResponse(QString i_user, uint i_req, bool i_accepted,
                                bool i_receivedFileSize, qint64 i_fileSize, QString i_denialReason);
    void OnUploadFailedNotification(QString i_user, string i_file);
    void OnUploadDeniedNotification(QString i_user, string i_file, QString i_reason);
    void PeriodicCheck();
    void EveryHalfMinute();
    void TimerTest();
    void OnDownloadPlaceInLine(QString i_user, string i_file, int i_place);
    void DetermineUploadsEffectiveOrder();
    void OnUploadPlaceInLineRequested(QString i_user, QString i_fileName);
    void OnUserShare(QString i_user, FileInfoMap& i_share,
                     AttributeTranslationTable& i_translationTable);
    // What the transfer threads report; the sending thread names the entry.
    void OnDownloadProgress(qint64 i_offset, int i_bytesPerSecond);
    void OnDownloadComplete();
    void OnDownloadError(QString i_reason);
    void OnUploadProgress(qint64 i_offset, int i_bytesPerSecond);
    void OnUploadComplete();
    void OnUploadError(QString i_reason);

private:
    void DeclareDownloadTypes();
    void DeclareUploadTypes();
    void DeclareLaterTypes();
    void ConnectPeerMessenger();
    void WriteDefaults();

    // Negotiation of our downloads with the peers that hold them.
    void QueueDownloadIfUserOnline(ItemPtr entry);
    void RequeueUserDownloads(ItemPtr user);
    void RequeueUserDownloadsAt(ItemPtr user, const QDateTime& now);
    void RequestDownloadPlaceInLine(ItemPtr entry);
    void OnUserOnline(ItemPtr user);
    ItemPtr FindDownloadEntry(const QString& user, const string& file);
    // Logs the peer's notice and finds the entry it names, logging when there is none.
    ItemPtr FindNotifiedDownload(const QString& user, const string& file, const QString& logLine);
    // A file the user offers with no entry of ours: a new queued entry, or null when the user
    // may not push or the name is unusable.
    ItemPtr AddPushedDownload(const QString& user, const string& file, qint64 size);
    void RefuseTransfer(ItemPtr user, uint request, const char* reason);

    // Requests from peers for our shared files.
    void RefuseUpload(ItemPtr user, const QString& file, const char* logLine, const char* reason);
    // True when the user already had an entry for the file; it is queued again if it ended.
    bool RequeueExistingUpload(ItemPtr user, ItemPtr file);
    ItemPtr QueueNewUpload(ItemPtr user, ItemPtr file, const QString& requested);
    void OpenAcceptedUpload(ItemPtr entry);

    // The steps of the half-minute run.
    void AbortStalledHandshakes(const QDateTime& now);
    void AskAboutQueuedDownloads(const QDateTime& now);
    void QuitWhenUploadsAreDone(const QDateTime& now);

    // The user item of the name, made when missing.
    static ItemPtr UserItemOf(const QString& user);
    // Connects the holder to the value's item of the type, dropping the item it held before
    // when nothing else holds it.
    static void ReplaceValue(ItemPtr holder, const char* type, const Value& value);

    // Store handlers freeing the cells behind progress items.
    void OnWritePositionRemoved(ItemPtr item);
    void OnLastReceiptTimeRemoved(ItemPtr item);
    void OnLastSpeedMeasurementTimeRemoved(ItemPtr item);
    void OnBytesPerSecondRemoved(ItemPtr item);
    void OnBytesSinceLastReceiptRemoved(ItemPtr item);
    void OnBytesUploadedRemoved(ItemPtr item);
    void OnUploadEntryRemoved(ItemPtr item);
    void OnDownloadFolderAdded(ItemPtr item);
    void OnDownloadFolderRemoved(ItemPtr item);

    // File connections and their threads.
    bool MayTakeFileConnection(ItemPtr entry);
    void StartDownloadThread(ItemPtr entry, QTcpSocket* socket, QFile* file, qint64 offset);
    void StartUploadThread(ItemPtr entry, QTcpSocket* socket);
    static void AttachProgressCells(ItemPtr entry);
    // The entry whose thread item holds the sending thread, or null when it is gone.
    ItemPtr EntryOfSendingThread(const char* threadType, const char* entryType);
    void FinishDownload(ItemPtr entry);
    // The finished file's path, moved there when it is not already; empty on failure.
    QString MoveToCompleteFolder(ItemPtr entry);
    void RecordCompleteDownload(ItemPtr entry);

    static bool IsActiveStatus(ItemPtr status);
    // Asks the thread to exit, waits for it and forgets it; StopThread also deletes it later.
    static TransferThread* EndThread(ItemPtr threadItem);
    static void StopThread(ItemPtr threadItem);
    static void DropSocket(ItemPtr socketItem, bool cutSignals);
    static void DropFile(ItemPtr fileItem);
    static void DropReadPosition(ItemPtr entry);
    static void RemoveCells(ItemPtr entry, std::initializer_list<const char*> cells);
    // The first entry connected to every partner, looked for among the partner with the fewest
    // entries; null when a partner is null or none matches.
    static ItemPtr EntryConnectedToAll(const char* entryType,
                                       std::initializer_list<ItemPtr> partners,
                                       ItemPtr except = ItemPtr());
    QString DownloadRoot();
    QString SubfolderPart(ItemPtr entry);
    // Gives a folder download's entry the local name of the folder it was started from; false
    // when every numbered name is taken.
    bool ChooseLocalFolder(ItemPtr entry);
    // Whether a numbered folder name lies on disk in any of the download folders.
    bool IsFolderOnDisk(const QString& name);
    // Whether the entry's recorded file is the one asked for: its partial file while it is not
    // complete, its finished file once it is.
    static bool IsRecordedPath(ItemPtr entry, bool complete);
    // The target path as the settings and the peer's names make it, whatever is recorded.
    QString NamedTargetPath(ItemPtr entry, bool complete);
    // The entry's partial file in local form: the one it has, else a free one of its own.
    QString PartialPathOf(ItemPtr entry);
    // The first numbered form of the wanted path that no other entry keeps and, unless a file
    // there may be resumed, nothing on disk takes; the entry's own file counts as free. Empty
    // when every numbered name is taken.
    static QString FreeNumberedPath(const QString& wanted, ItemPtr entry, const QString& own,
                                    bool mayResume);
    static bool IsClaimedByAnother(const QString& localPath, ItemPtr entry);
    // Whether a kept path may be used: it lies in the download folders and names the entry's
    // own file or a numbered form of it.
    bool IsUsableKeptPath(ItemPtr entry, const QString& localPath);
    // Checks the paths a loaded store keeps; one that fails, or one another entry keeps too,
    // is forgotten and chosen afresh.
    void CheckKeptPaths();
    static void ForgetLocalPath(ItemPtr entry);
    static bool HoldsWholeFile(ItemPtr entry, const QString& localPath);
    std::list<ItemPtr> NumberedUploads();
    // Removal without starting the next uploads, and refusal ("File not shared.") with it.
    void DropUpload(ItemPtr entry);
    void RefuseUpload(ItemPtr entry);

    QTimer timerTestTimer;
    QElapsedTimer timerTestClock;
    qint64 uploadAllowance = 0;
    int uploadSpeedLimit = 0;
    int perUploadSpeedLimit = 0;
    QMutex speedMutex;
    ItemPtr lastOrderedUpload;
    UploadLine uploadLine;
    QDateTime runStart;
    // The local folder names of folder downloads in order, so that the numbered forms of one
    // name are found without reading every name.
    std::map<QString, ItemPtr> localFolderNames;
};

extern TransferQueueManager* transferQueueManager;
