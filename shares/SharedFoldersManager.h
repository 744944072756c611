#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QThreadPool>

#include "AttributeTranslationTable.h"
#include "ConnectionInfo.h"
#include "DataHandler.h"
#include "FileInfoMap.h"
#include "FileScanner.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "MemStream.h"
#include "SearchIndex.h"
#include "SharedFileLookup.h"
#include "SharesProvider.h"
#include "UserStats.h"

class ShareListBody;

class Data;
class Type;
class UploadQueue;

// Holds the user's own shares: the shared roots with their audiences, every folder and file found
// under them, and the search index over their paths. It walks the disk (at start-up on its worker
// thread, on request synchronously), answers searches from the server and the distributed network,
// and builds the share lists and folder contents that peers ask for.
class SharedFoldersManager : public QObject, public DataHandler, public SharesProvider
{
    Q_OBJECT

public:
    // A receiver refuses a result count above this.
    static constexpr int maxSearchResults = 131072;

    explicit SharedFoldersManager(QObject* parent = nullptr);
    ~SharedFoldersManager() override;

    // Declares the types and relations in the store; the constructor does it for `d`.
    static void DeclareTypes(Data& store);
    // Until a transfer engine is given, every search answer offers a free slot and no queue.
    void SetUploadQueue(UploadQueue* queue) { uploadQueue = queue; }
    FileScanner& Scanner() { return scanner; }

    // Visibility.
    ItemSet GetUserSharedFolders(const QString& user);
    bool IsFileSharedWithUser(ItemPtr file, const QString& user);
    bool IsUserAddressUnshared(const QString& user);
    void RemoveUserShare(const QString& user);
    static QString GetAbsoluteFileName(QString path);
    ItemPtr GetSharedFileItem(const QString& path);
    // The lookup by path is filled a slice at a time once the start-up walk is merged (or at the
    // first look-up); a look-up meanwhile enters the folders it may be in first. Enters the files
    // of up to that many folders; false once every file is entered.
    bool FillLookupStep(int folders);
    bool IsLookupFull() const;
    // At most this long per pass of the event loop filling the lookup.
    static constexpr int lookupSliceMs = 10;
    QString GetFileItemDisplayString(ItemPtr file);

    // Scanning.
    void Init();
    ItemPtr AddSharedFolder(const QString& path);
    void RescanShares();
    // Stops sharing the root and forgets the folders and files only it held.
    void RemoveSharedFolder(ItemPtr root);
    void ScanSharedFolder(const QString& root, const QString& folder);

    // The index.
    static bool IsSearchTokenSeparator(QChar character);
    void TokenizeSharedFile(ItemPtr file);

    // The words the index holds for a file, in byte order.
    std::vector<std::string> IndexedWords(ItemPtr file) const;

    // Answering. ProcessSearch is the one entry for searches of both roads. A large answer is
    // compressed on a worker and sent on a later pass of the event loop.
    static constexpr int compressOnWorkerFrom = 256 * 1024;
    // Large answers built and not yet sent; past this a large answer is dropped, since a flood
    // of broad searches would otherwise queue bodies of up to 10 MiB each without end.
    static constexpr int maxLargeAnswersWaiting = 4;
    bool ProcessSearch(const QString& user, unsigned int token, const QString& query);
    // The uncompressed body of the answer to a search, or false when it is refused.
    bool BuildSearchAnswer(const QString& user, unsigned int token, const QString& query,
                           MemStream& body);
    void GetSharedFilesAsUserShare(const QString& user, FileInfoMap& folders,
                                   AttributeTranslationTable& table);
    // The kept list when there is one; otherwise an empty stream, and the list is built over
    // later passes of the event loop, compressed on the worker and sent to every user who asked
    // meanwhile.
    MemStream GetSharedFilesMessage(const QString& user) override;
    // Whether the user's share list is built: kept to send, or found too large for a frame.
    bool IsShareListBuilt(const QString& user);
    // At most this long per pass of the event loop gathering a share list's files.
    static constexpr int shareListSliceMs = 10;

signals:
    void MP3ScanRequired(QString path);
    void SharedFilesRescanned(int added, int removed);
    void SearchProcessed(QString query, bool answered);
    // The start-up walk is merged, the lookup by path filled and the walk's memory given back.
    void StartupSettled();

public slots:
    void OnDNetSearchRequest(QString user, quint32 token, QString query);
    void OnMP3Scanned(QString path, int mpegVersion, QString channelMode, int frequency, bool vbr,
                      int bitrate);
    void OnFilesInFoldersRequested(QString user, quint32 token, QString folder);
    void OnConnectedToServer();
    void OnReceivedUserStats(QString user, UserStats stats);
    void OnDirectFileSearch(QString user, quint32 token, QString query);
    void OnFoldersRescanned();

private:
    using FilesByName = std::unordered_map<std::string, ItemPtr>;

    // Store handlers.
    void OnUserAddress(ItemPtr user);
    void OnSharedFileRemoved(ItemPtr file);
    void OnSharedFileConnected(ConnectionInfo change);
    void OnSharedFileDisconnected(ConnectionInfo change);
    // Enters the file in the lookup by path, or takes it out, once it has a folder and a name.
    void EnterFile(ItemPtr file, ItemPtr folder, ItemPtr name, bool entered);
    // The same when the connection changed is the file's folder or name.
    void EnterFileOf(ConnectionInfo change, bool entered);
    // Notes every folder to fill the lookup from, and from then on enters files as they change.
    // Until then none is entered: entering the saved store's files one by one as it loads made
    // the load's pass of the event loop twice as long.
    void StartLookupFill();
    void QueueLookupSlice();
    void FillLookupSlice();
    void EnterFolderFiles(ItemPtr folder);
    // Enters now the folders still to fill whose form is the one asked for.
    void EnterPendingFolders(const std::string& folderForm);
    static std::string LookupForm(ItemPtr folderOrName);
    static std::string LookupForm(std::string_view bytes);
    static bool HasLookupForm(std::string_view bytes, const std::string& form);
    // Frees the merged walk and gives the freed memory back, off the window's thread.
    void ReleaseWalk();
    // Any change around a file or a root may change what a share list holds.
    void OnShareChanged(ConnectionInfo change);

    // The start-up walk's results are merged a slice per pass of the event loop, so that a large
    // share does not hold the window; a synchronous walk first finishes what is left.
    void MergeSlice();
    void FinishMerge();

    void AnswerSearch(const QString& user, quint32 token, const QString& query);
    // Brings one listed file's item up to date; the file is found by its exact name among the
    // folder's files, so names that differ only in case stay apart.
    void UpdateFile(ItemPtr folder, FilesByName& unseen, const QString& name, qint64 size,
                    const QString& path, bool countAdded);
    static FilesByName FilesOf(ItemPtr folder);
    // Removes a scanned folder and its files when no shared root holds it; gives the files
    // removed.
    static int RemoveFolderIfUnshared(ItemPtr folder);
    bool IsFolderVisible(ItemPtr folder, const ItemSet& roots);
    FileInfo DescribeFile(ItemPtr file, std::string name, bool withAttributes) const;

    QThread scannerThread;
    FileScanner scanner;
    // One thread, so that large answers leave in the order they were asked for.
    QThreadPool compressing;
    int largeAnswersWaiting = 0;
    int addedFileCount = 0;
    int removedFileCount = 0;
    std::set<QString> foldersBeingScanned;
    // The roots given to the start-up walk while it runs; the merge leaves other roots alone.
    QStringList startupRoots;
    // Files merged per pass of the event loop.
    static constexpr int mergeSliceFiles = 4000;
    bool merging = false;
    FileScanner::ScanResults::const_iterator mergeRoot;
    FileScanner::RootFolders::const_iterator mergeFolder;
    UploadQueue* uploadQueue = nullptr;
    SearchIndex searchIndex;
    SharedFileLookup sharedFiles;
    // Set once the fill has started: from then on files are entered as they change.
    bool lookupLive = false;
    // Paths packed in one buffer: a large share's hundred thousand folders are one allocation.
    struct PackedPaths
    {
        std::string bytes;
        std::vector<size_t> ends;

        void Add(const std::string& path)
        {
            bytes += path;
            ends.push_back(bytes.size());
        }
        size_t size() const { return ends.size(); }
        std::string_view operator[](size_t at) const
        {
            const size_t start = at == 0 ? 0 : ends[at - 1];
            return std::string_view(bytes).substr(start, ends[at] - start);
        }
    };
    // The folders whose files the fill has yet to enter, by path, looked up again when their
    // turn comes, so that no item is held across passes of the event loop.
    PackedPaths lookupPending;
    size_t lookupNext = 0;
    bool lookupSliceQueued = false;
    // The merged walk waits for the fill to end before it is freed, so that the trim does not
    // hold the allocator while the fill's slices need it.
    bool walkMerged = false;
    // The last folder whose lookup form was made, with the value it was made from.
    Item* formedFolder = nullptr;
    std::string formedFolderValue;
    std::string formedFolderForm;
    // The partner types read for every file of an answer, looked up once.
    struct FileTypes
    {
        Type* name = nullptr;
        Type* folder = nullptr;
        Type* size = nullptr;
        Type* bitrate = nullptr;
        Type* bitrateMode = nullptr;
    } fileTypes;

    // Share lists by the roots their askers see, built once and kept until the shares change.
    struct BuiltShareList
    {
        MemStream message;
        bool tooLarge = false;
    };
    std::map<QString, BuiltShareList> builtShareLists;
    // A share list being built for the users who asked. Its folders are named by path and
    // looked up again in each slice, and any change of the shares starts it again, so that no
    // item is held across passes of the event loop.
    struct ShareListBuild
    {
        std::set<QString> askers;
        // The roots its askers saw when the first of them asked.
        std::vector<std::string> roots;
        quint64 generation = 0;
        std::vector<std::string> folders;
        size_t next = 0;
        std::shared_ptr<ShareListBody> list;
        bool compressing = false;
    };
    std::map<QString, ShareListBuild> shareListBuilds;
    // Counts the changes of the shares, so that a build knows whether what it holds is current.
    quint64 shareGeneration = 0;
    bool shareListSliceQueued = false;
    // The roots the user sees, as one text: users who see the same roots get the same list.
    QString AudienceOf(const QString& user);
    void QueueShareListSlice();
    void BuildShareListSlice();
    void StartShareListBuild(ShareListBuild& build);
    void ShareListCompressed(const QString& audience, quint64 generation, const QByteArray& message,
                             int folderCount);
    // Adds the folder's files, each folder's files sorted once rather than placed one by one.
    void AddListedFolder(ItemPtr folder, FileInfoMap& folders,
                         std::vector<FileInfo>& scratch) const;
};

extern SharedFoldersManager* sharedFoldersManager;
