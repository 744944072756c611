// Walking the shared folders and keeping their items up to date with the disk.
#include "SharedFoldersManager.h"

#include <memory>

#include <QDir>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerTypes.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTypes.h"

using namespace SharesTypes;

namespace {
QFileInfoList ListFolder(const QString& folder)
{
    return QDir(folder, QString(), QDir::Name | QDir::IgnoreCase,
                QDir::Filters(FileScanner::listingFilter))
        .entryInfoList();
}

ItemPtr ValuedItem(const char* type, const Value& value)
{
    return d.GetType(type)->GetItem(value);
}
} // namespace

void SharedFoldersManager::Init()
{
    QStringList roots;
    for (ItemPtr root : g(sharedFolder))
        roots << root.AsString();
    startupRoots = roots;
    QMetaObject::invokeMethod(&scanner, [this, roots] { scanner.ScanFolders(roots); });

    auto* user = new PathNode(&d, ServerTypes::user);
    new PathNode(user, PeerTypes::userAddress, PathOnConnect);
    d.AddPathHandler(user, this, &SharedFoldersManager::OnUserAddress);
}

SharedFoldersManager::FilesByName SharedFoldersManager::FilesOf(ItemPtr folder)
{
    FilesByName files;
    for (ItemPtr file : folder.GetItems(sharedFile))
        files.emplace(file[sharedFileName].AsStdString(), file);
    return files;
}

void SharedFoldersManager::UpdateFile(ItemPtr folder, FilesByName& unseen, const QString& name,
                                      qint64 size, const QString& path, bool countAdded)
{
    const Value sizeValue(static_cast<long long>(size));
    ItemPtr file;
    const auto known = unseen.find(name.toStdString());
    if (known != unseen.end())
    {
        file = known->second;
        unseen.erase(known);
        if (file[sharedFileSize].AsInt64() != size)
            file.Connect(ValuedItem(sharedFileSize, sizeValue));
    }
    else
    {
        file = folder.NewItem(sharedFile);
        file.Connect(ValuedItem(sharedFileName, Value(name)));
        file.Connect(ValuedItem(sharedFileSize, sizeValue));
        if (countAdded)
            ++addedFileCount;
    }
    if (FileScanner::IsMP3Name(name) && !file.IsConnected(isScanned))
        emit MP3ScanRequired(path);
    TokenizeSharedFile(file);
}

void SharedFoldersManager::OnFoldersRescanned()
{
    Log("Profiling", 1, "OnFoldersRescanned begin");
    merging = true;
    mergeRoot = scanner.Results().cbegin();
    if (mergeRoot != scanner.Results().cend())
        mergeFolder = mergeRoot->second.cbegin();
    MergeSlice();
}

void SharedFoldersManager::MergeSlice()
{
    if (!merging)
        return;
    Type* roots = d.GetType(sharedFolder);
    ItemPtr scannedMark = d.GetType(isScanned)->GetGlobalNullItem();
    int merged = 0;
    const auto results = scanner.Results().cend();
    while (mergeRoot != results && merged < mergeSliceFiles)
    {
        if (mergeFolder == mergeRoot->second.cend())
        {
            if (++mergeRoot != results)
                mergeFolder = mergeRoot->second.cbegin();
            continue;
        }
        const QString& folder = mergeFolder->first;
        const FileScanner::FolderFiles& files = mergeFolder->second;
        ++mergeFolder;
        ItemPtr rootItem = roots->HasItem(Value(mergeRoot->first));
        if (rootItem.IsNull())
            continue;
        ItemPtr folderItem = ValuedItem(sharedFileFolder, Value(folder));
        rootItem.Connect(folderItem);
        folderItem.Connect(scannedMark);
        FilesByName unseen = FilesOf(folderItem);
        for (const FileScanner::ListedFile& file : files)
            UpdateFile(folderItem, unseen, file.name, file.size, folder + "/" + file.name, false);
        for (const auto& entry : unseen)
            entry.second.Remove();
        merged += int(files.size()) + 1;
    }
    Log("Profiling", 2, QString("Merged a slice of %1 entries of the walk").arg(merged));
    if (mergeRoot != results)
    {
        QMetaObject::invokeMethod(this, &SharedFoldersManager::MergeSlice, Qt::QueuedConnection);
        return;
    }
    merging = false;
    for (ItemPtr folder : g(sharedFileFolder))
    {
        if (folder.IsConnected(scannedMark))
            continue;
        // Roots shared while the walk ran were walked on their own; the walk knows nothing of them.
        bool sharedSince = false;
        for (ItemPtr root : folder.GetItems(sharedFolder))
            sharedSince = sharedSince || !startupRoots.contains(root.AsString());
        if (sharedSince)
            continue;
        folder.GetItems(sharedFile).Remove();
        folder.Remove();
    }
    scannedMark.Disconnect(sharedFileFolder);
    startupRoots.clear();
    Log("Profiling", 1, "OnFoldersRescanned end");
    // A peer's first upload request or a scanned MP3 would otherwise fill the lookup in one pass.
    // The fill starts on a pass of its own: noting the folders takes a large share's time too.
    walkMerged = true;
    if (IsLookupFull())
        ReleaseWalk();
    else
        QueueLookupSlice();
}

void SharedFoldersManager::ReleaseWalk()
{
    walkMerged = false;
    auto walk = std::make_shared<FileScanner::ScanResults>();
    walk->swap(scanner.Results());
    // The walk's results were made on the worker: freed, they stay in its arena, which the
    // allocator gives back to the system only from its top. Freeing them and trimming every arena
    // takes a large share's whole pass of the event loop, so it runs on the worker that compresses
    // answers, which the destructor waits for.
    compressing.start([this, walk]() mutable {
        walk.reset();
        ReleaseFreedMemory();
        QMetaObject::invokeMethod(this, &SharedFoldersManager::StartupSettled,
                                  Qt::QueuedConnection);
    });
}

void SharedFoldersManager::FinishMerge()
{
    while (merging)
        MergeSlice();
}

void SharedFoldersManager::ScanSharedFolder(const QString& root, const QString& folder)
{
    if (!FileScanner::IsUnderRoot(root, folder))
        return;
    if (!foldersBeingScanned.insert(folder).second)
        return;
    Log("Shared", 1, QString("Adding folder %1 as part of sharing %2").arg(folder, root));
    ItemPtr folderItem = ValuedItem(sharedFileFolder, Value(folder));
    ValuedItem(sharedFolder, Value(root)).Connect(folderItem);
    FilesByName unseen = FilesOf(folderItem);
    for (const QFileInfo& entry : ListFolder(folder))
    {
        if (entry.isFile())
            UpdateFile(folderItem, unseen, entry.fileName(), entry.size(), entry.absoluteFilePath(),
                       true);
        else if (entry.isDir())
            ScanSharedFolder(root, entry.absoluteFilePath());
    }
    for (const auto& entry : unseen)
    {
        entry.second.Remove();
        ++removedFileCount;
    }
    foldersBeingScanned.erase(folder);
}

ItemPtr SharedFoldersManager::AddSharedFolder(const QString& path)
{
    ItemPtr existing = d.GetType(sharedFolder)->HasItem(Value(path));
    if (!existing.IsNull())
        return existing;
    ItemPtr root = ValuedItem(sharedFolder, Value(path));
    const int counter = Settings::GetText(SharesSettings::sharedFolderCounter).toInt();
    Settings::Set(SharesSettings::sharedFolderCounter, Value(counter + 1));
    root.Connect(ValuedItem(sharedFolderId,
                            Value(QString("[%1]%2").arg(counter).arg(QDir(path).dirName()))));
    ScanSharedFolder(path, path);
    return root;
}

void SharedFoldersManager::RescanShares()
{
    // Else the rest of the older walk would be merged over this one.
    FinishMerge();
    addedFileCount = 0;
    removedFileCount = 0;
    for (ItemPtr root : g(sharedFolder))
    {
        root.Disconnect(sharedFileFolder);
        ScanSharedFolder(root.AsString(), root.AsString());
    }
    for (ItemPtr folder : g(sharedFileFolder))
        removedFileCount += RemoveFolderIfUnshared(folder);
    d.RemoveDisconnectedItems();
    emit SharedFilesRescanned(addedFileCount, removedFileCount);
}

void SharedFoldersManager::RemoveSharedFolder(ItemPtr root)
{
    const ItemSet folders = root.GetItems(sharedFileFolder);
    root.Remove();
    // Files are linked to each other through their shared names, so the store's clean-up alone
    // would keep every file whose name another share also holds.
    for (ItemPtr folder : folders)
        RemoveFolderIfUnshared(folder);
    d.RemoveDisconnectedItems();
}

int SharedFoldersManager::RemoveFolderIfUnshared(ItemPtr folder)
{
    // A folder under two shared roots stays while the other one holds it.
    if (folder.IsConnected(sharedFolder))
        return 0;
    const ItemSet files = folder.GetItems(sharedFile);
    const int count = static_cast<int>(files.Size());
    files.Remove();
    folder.Remove();
    return count;
}

void SharedFoldersManager::OnMP3Scanned(QString path, int mpegVersion, QString channelMode,
                                        int frequency, bool vbr, int bitrate)
{
    Log("MP3 Scanning", 1, QString("Scanned %1").arg(path));
    ItemPtr file = GetSharedFileItem(path);
    if (file.IsNull())
        return;
    file.Connect(ValuedItem(PeerTypes::mpegVersion, Value(mpegVersion)));
    file.Connect(ValuedItem(PeerTypes::channelMode, Value(channelMode)));
    file.Connect(ValuedItem(PeerTypes::audioFrequency, Value(frequency)));
    file.Connect(ValuedItem(PeerTypes::bitrateMode, vbr ? "vbr" : "cbr"));
    file.Connect(ValuedItem(PeerTypes::bitrate, Value(bitrate)));
    file.NewItem(isScanned);
}
