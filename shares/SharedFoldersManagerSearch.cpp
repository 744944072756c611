// The search index, search answers, and the share lists and folder contents for peers.
#include "SharedFoldersManager.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <QElapsedTimer>

#include "CompressedBody.h"
#include "Data.h"
#include "FolderContentsBody.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerFrame.h"
#include "PeerMessageCode.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "SearchParser.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "ShareListBody.h"
#include "SharesTypes.h"
#include "UploadQueue.h"

using namespace SharesTypes;

namespace {
// Room left in a frame for the compressed form of a body: deflate may add a little to data it
// cannot shrink, and the code goes in front.
constexpr int compressionHeadroom = 16384;
// Files read together while an answer is built.
constexpr size_t collectBatchSize = 32;

std::string ListedName(const std::string& path)
{
    return StringReplace(path, "/", "\\");
}

void AppendListed(std::string& path, const std::string& local)
{
    for (const char character : local)
        path += character == '/' ? '\\' : character;
}

// Whether the text after the last dot is "mp3" in any case of its ASCII letters.
bool IsMP3Path(const std::string& path)
{
    const size_t length = path.size();
    return length >= 4 && path[length - 4] == '.' && (path[length - 3] | 0x20) == 'm' &&
           (path[length - 2] | 0x20) == 'p' && path[length - 1] == '3';
}

bool ContainsAny(const QString& text, const SearchParser::TokenSet& words)
{
    for (const QString& word : words)
        if (text.contains(word))
            return true;
    return false;
}

bool ContainsAll(const QString& text, const SearchParser::TokenSet& words)
{
    for (const QString& word : words)
        if (!text.contains(word))
            return false;
    return true;
}

// The message compressed on a worker, as bytes that may cross to the window's thread: copies of
// a stream share an unlocked count. Empty when zlib refuses.
QByteArray CompressedBytes(std::uint32_t code, const MemStream& body)
{
    MemStream message;
    if (!CompressedBody::Compress(code, body, message))
        return QByteArray();
    return QByteArray(message.GetWrittenData(), message.GetWrittenLength());
}
} // namespace

bool SharedFoldersManager::IsSearchTokenSeparator(QChar character)
{
    const ushort code = character.unicode();
    if (code > 0xFF)
        return true;
    if (code >= 0x80)
        return false;
    const bool wordCharacter = (code >= '0' && code <= '9') || (code >= 'a' && code <= 'z') ||
                               (code >= 'A' && code <= 'Z');
    return !wordCharacter;
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr file)
{
    // A file's folder and name never change, so a file met again by a walk keeps its words.
    if (file.IsNull() || searchIndex.Contains(file))
        return;
    const QString text =
        (file[sharedFileFolder].AsString() + "\\" + file[sharedFileName].AsString()).toLower();
    searchIndex.Add(file, text);
}

void SharedFoldersManager::OnSharedFileRemoved(ItemPtr file)
{
    searchIndex.Remove(file);
    // Here, while its folder and name are still connected: the key is made from them.
    EnterFile(file, file->HasItem(fileTypes.folder), file->HasItem(fileTypes.name), false);
}

std::vector<std::string> SharedFoldersManager::IndexedWords(ItemPtr file) const
{
    return searchIndex.WordsOf(file);
}

void SharedFoldersManager::OnDirectFileSearch(QString user, quint32 token, QString query)
{
    AnswerSearch(user, token, query);
}

void SharedFoldersManager::OnDNetSearchRequest(QString user, quint32 token, QString query)
{
    AnswerSearch(user, token, query);
}

void SharedFoldersManager::AnswerSearch(const QString& user, quint32 token, const QString& query)
{
    if (user == Settings::GetText(SharesSettings::username))
        return;
    emit SearchProcessed(query, ProcessSearch(user, token, query));
}

FileInfo SharedFoldersManager::DescribeFile(ItemPtr file, std::string name,
                                            bool withAttributes) const
{
    FileInfo info;
    info.name = std::move(name);
    info.size = ItemPtr(file->HasItem(fileTypes.size)).AsInt64();
    if (!withAttributes || !IsMP3Path(info.name))
        return info;
    info.attributes.extension = "mp3";
    ItemPtr bitrate = file->HasItem(fileTypes.bitrate);
    if (!bitrate.IsNull())
        info.attributes.pairs.emplace_back(AttributeMap::Bitrate, bitrate.AsInt());
    ItemPtr mode = file->HasItem(fileTypes.bitrateMode);
    if (!mode.IsNull())
        info.attributes.pairs.emplace_back(AttributeMap::BitrateMode,
                                           mode.AsStdString() == "vbr" ? 1 : 0);
    return info;
}

bool SharedFoldersManager::IsFolderVisible(ItemPtr folder, const ItemSet& roots)
{
    for (ItemPtr root : folder.GetItems(sharedFolder))
        if (roots.Contains(root))
            return true;
    return false;
}

bool SharedFoldersManager::ProcessSearch(const QString& user, unsigned int token,
                                         const QString& query)
{
    // Held alone by whichever thread compresses it: copies of a stream share an unlocked count.
    auto body = std::make_shared<MemStream>();
    if (!BuildSearchAnswer(user, token, query, *body) || !peerMessenger)
        return false;
    auto send = [user, query](MemStream& message) {
        if (!peerMessenger)
            return;
        Log("Search", 1,
            QString("Sending search results to user %1 for search string %2").arg(user, query));
        peerMessenger->SendMessageToUser(user, message);
    };
    if (body->GetWrittenLength() < compressOnWorkerFrom)
    {
        MemStream message;
        if (!CompressedBody::Compress(PeerMessageCode::PM_FILE_SEARCH_RESULT, *body, message))
            return false;
        send(message);
        return true;
    }
    // An answer of every shared file takes a second to compress at level 9, and any search
    // of the network can ask for one.
    if (largeAnswersWaiting >= maxLargeAnswersWaiting)
    {
        Log("Search", 1,
            QString("Not answering %1 for search string %2: too many large answers waiting")
                .arg(user, query));
        return false;
    }
    ++largeAnswersWaiting;
    compressing.start([this, body = std::move(body), send]() mutable {
        const QByteArray bytes = CompressedBytes(PeerMessageCode::PM_FILE_SEARCH_RESULT, *body);
        body.reset();
        // The worker or the window's thread may be the last to let go of this call and its bytes.
        QMetaObject::invokeMethod(
            this,
            [this, send, bytes] {
                --largeAnswersWaiting;
                if (bytes.isEmpty())
                    return;
                MemStream message;
                message.WriteBuffer(bytes.constData(), bytes.size());
                send(message);
            },
            Qt::QueuedConnection);
    });
    return true;
}

bool SharedFoldersManager::BuildSearchAnswer(const QString& user, unsigned int token,
                                             const QString& query, MemStream& body)
{
    if (Settings::IsYes(SharesSettings::finishUploadsAndQuit, Settings::runtime))
        return false;
    SearchParser parser;
    if (!parser.SetSearchText(query) || parser.GetIncludedTokenSet().empty())
        return false;
    std::vector<std::string> keys;
    bool longEnough = false;
    for (const QString& word : parser.GetIncludedTokenSet())
    {
        keys.push_back(SearchIndex::Key(word));
        if (!searchIndex.HasWord(keys.back()))
            return false;
        longEnough = longEnough || word.size() > 2;
    }
    if (!longEnough)
        return false;
    const ItemSet roots = GetUserSharedFolders(user);
    if (roots.Empty())
        return false;

    // A receiver refuses more records than the limit, and a link drops a frame past its limit:
    // an answer that large keeps its first records in path order instead of reaching nobody.
    MemStream head;
    head.Write(Settings::GetText(SharesSettings::username));
    head.Write(std::uint32_t(token));
    constexpr int trailerLength = 1 + 4 + 4 + 4;
    const int budget = int(PeerFrame::MaxBodyLength) - compressionHeadroom - trailerLength - 4 -
                       head.GetWrittenLength();

    struct Found
    {
        std::string path;
        Item* file;
    };
    std::vector<Found> found;
    // At least what the records collected take in the body: past the budget or the record
    // limit, collecting more would only build records that are cut.
    qint64 leastLength = 0;
    // The folder of the file before: files come folder by folder, so a folder's visibility and
    // listed path, with the separator after it, are mostly made once.
    Item* lastFolder = nullptr;
    bool lastVisible = false;
    std::string lastListed;
    const bool byName =
        !parser.GetExcludedTokenSet().empty() || !parser.GetIncludedPartTokenSet().empty();
    // Files are taken a batch at a time, and each step reads what the step before fetched for
    // the whole batch, so that the memory of many files is on its way at once.
    std::vector<Item*> batch;
    std::vector<std::pair<Item*, Item*>> names;
    const auto collectBatch = [&] {
        names.clear();
        for (Item* file : batch)
        {
            Item* name = file->HasItem(fileTypes.name);
            names.emplace_back(name, file->HasItem(fileTypes.folder));
            __builtin_prefetch(name);
        }
        for (const auto& [name, folder] : names)
            if (name)
                __builtin_prefetch(name->value.Bytes().data());
        for (size_t at = 0; at < batch.size(); ++at)
        {
            ItemPtr name = names[at].first;
            ItemPtr folder = names[at].second;
            if (byName)
            {
                const QString lowerName = name.AsString().toLower();
                if (ContainsAny(lowerName, parser.GetExcludedTokenSet()) ||
                    !ContainsAll(lowerName, parser.GetIncludedPartTokenSet()))
                    continue;
            }
            if (folder.IsNull())
                continue;
            if (folder.Get() != lastFolder)
            {
                lastFolder = folder.Get();
                lastVisible = IsFolderVisible(folder, roots);
                if (lastVisible)
                    lastListed = ListedName(folder.AsStdString() + "/");
            }
            if (!lastVisible)
                continue;
            found.push_back({lastListed, batch[at]});
            if (!name.IsNull())
                AppendListed(found.back().path, name->value);
            // Flag, name count, size, extension count and pair count around the path.
            constexpr int recordFrame = 1 + 4 + 8 + 4 + 4;
            leastLength += qint64(found.back().path.size()) + recordFrame;
        }
        batch.clear();
        return found.size() < size_t(maxSearchResults) && leastLength <= budget;
    };
    searchIndex.ForEachFileWithAll(keys, [&](Item* file) {
        batch.push_back(file);
        return batch.size() < collectBatchSize || collectBatch();
    });
    collectBatch();
    if (found.empty())
        return false;
    // In path order; of equal paths the one met last stands.
    std::stable_sort(found.begin(), found.end(),
                     [](const Found& left, const Found& right) { return left.path < right.path; });
    MemStream written;
    MemStream record;
    std::uint32_t count = 0;
    for (size_t at = 0; at < found.size() && count < std::uint32_t(maxSearchResults); ++at)
    {
        if (at + 1 < found.size() && found[at + 1].path == found[at].path)
            continue;
        record.Reset();
        DescribeFile(found[at].file, std::move(found[at].path), true).Write(record);
        if (written.GetWrittenLength() + record.GetWrittenLength() > budget)
            break;
        written.WriteBuffer(record.GetWrittenData(), record.GetWrittenLength());
        ++count;
    }
    body.WriteBuffer(head.GetWrittenData(), head.GetWrittenLength());
    body.Write(count);
    body.WriteBuffer(written.GetWrittenData(), written.GetWrittenLength());
    body.Write(uploadQueue ? uploadQueue->IsFreeToUpload() : true);
    body.Write(std::uint32_t(Settings::GetText(SharesSettings::uploadSpeed).toUInt()));
    body.Write(std::uint32_t(uploadQueue ? uploadQueue->QueuedUploadCount() : 0));
    body.Write(std::uint32_t(0));
    return true;
}

void SharedFoldersManager::AddListedFolder(ItemPtr folder, FileInfoMap& folders,
                                           std::vector<FileInfo>& scratch) const
{
    scratch.clear();
    if (const ItemSet* files = folder->connections.ItemsOf(d.GetType(sharedFile)))
        files->ForEach([this, &scratch](ItemPtr file) {
            scratch.push_back(
                DescribeFile(file, ItemPtr(file->HasItem(fileTypes.name)).AsStdString(), true));
        });
    std::sort(scratch.begin(), scratch.end());
    std::set<FileInfo>& into = folders[ListedName(folder.AsStdString())];
    for (FileInfo& file : scratch)
        into.emplace_hint(into.end(), std::move(file));
}

void SharedFoldersManager::GetSharedFilesAsUserShare(const QString& user, FileInfoMap& folders,
                                                     AttributeTranslationTable&)
{
    std::vector<FileInfo> scratch;
    for (ItemPtr folder : GetUserSharedFolders(user).GetItems(sharedFileFolder))
        AddListedFolder(folder, folders, scratch);
}

void SharedFoldersManager::OnShareChanged(ConnectionInfo)
{
    builtShareLists.clear();
    ++shareGeneration;
}

QString SharedFoldersManager::AudienceOf(const QString& user)
{
    QStringList roots;
    for (ItemPtr root : GetUserSharedFolders(user))
        roots << root.AsString();
    roots.sort();
    // No path holds a null character, so no two sets of roots give one text.
    return roots.join(QChar(0));
}

bool SharedFoldersManager::IsShareListBuilt(const QString& user)
{
    return builtShareLists.count(AudienceOf(user)) > 0;
}

MemStream SharedFoldersManager::GetSharedFilesMessage(const QString& user)
{
    Log("Shared", 1, QString("Shared file list requested by user %1").arg(user));
    const QString audience = AudienceOf(user);
    const auto kept = builtShareLists.find(audience);
    if (kept != builtShareLists.end())
        return kept->second.tooLarge ? MemStream() : kept->second.message;
    // Gathering a large share holds the window for long, and compressing it longer still.
    ShareListBuild& build = shareListBuilds[audience];
    if (build.askers.empty())
    {
        GetUserSharedFolders(user).ForEach(
            [&build](ItemPtr root) { build.roots.push_back(root->value.Bytes()); });
        StartShareListBuild(build);
    }
    build.askers.insert(user);
    return MemStream();
}

void SharedFoldersManager::StartShareListBuild(ShareListBuild& build)
{
    build.generation = shareGeneration;
    ItemSet roots;
    for (const std::string& root : build.roots)
        if (Item* rootItem = d.GetType(sharedFolder)->HasItem(Value(root)))
            roots.Insert(rootItem);
    build.folders.clear();
    for (ItemPtr folder : roots.GetItems(sharedFileFolder))
        build.folders.push_back(folder->value.Bytes());
    build.next = 0;
    build.list = std::make_shared<ShareListBody>();
    build.compressing = false;
    QueueShareListSlice();
}

void SharedFoldersManager::QueueShareListSlice()
{
    if (shareListSliceQueued)
        return;
    shareListSliceQueued = true;
    QMetaObject::invokeMethod(this, &SharedFoldersManager::BuildShareListSlice,
                              Qt::QueuedConnection);
}

void SharedFoldersManager::BuildShareListSlice()
{
    shareListSliceQueued = false;
    QElapsedTimer spent;
    spent.start();
    std::vector<FileInfo> scratch;
    Type* folderType = d.GetType(sharedFileFolder);
    for (auto& [audience, build] : shareListBuilds)
    {
        if (build.compressing)
            continue;
        if (build.generation != shareGeneration)
            StartShareListBuild(build);
        while (build.next < build.folders.size() && spent.elapsed() < shareListSliceMs)
        {
            ItemPtr folder = folderType->HasItem(Value(build.folders[build.next++]));
            if (!folder.IsNull())
                AddListedFolder(folder, build.list->folders, scratch);
        }
        if (build.next < build.folders.size())
        {
            QueueShareListSlice();
            return;
        }
        // Written and compressed on the worker: the list holds its own copies of every name.
        build.compressing = true;
        compressing.start([this, audience = audience, generation = build.generation,
                           list = std::move(build.list)]() mutable {
            const int folderCount = int(list->folders.size());
            QByteArray bytes;
            {
                MemStream body;
                list->Write(body);
                list.reset();
                bytes = CompressedBytes(PeerMessageCode::PM_SHARED_FILE_LIST, body);
            }
            // A large share's list and its written body take many megabytes for a moment; freed
            // here and in the window's thread, they would stay resident.
            ReleaseFreedMemory();
            QMetaObject::invokeMethod(
                this,
                [this, audience, generation, folderCount, bytes] {
                    ShareListCompressed(audience, generation, bytes, folderCount);
                },
                Qt::QueuedConnection);
        });
    }
}

void SharedFoldersManager::ShareListCompressed(const QString& audience, quint64 generation,
                                               const QByteArray& message, int folderCount)
{
    const auto found = shareListBuilds.find(audience);
    if (found == shareListBuilds.end())
        return;
    ShareListBuild& build = found->second;
    if (generation != shareGeneration)
    {
        // The shares changed while it was compressed: the askers get the current list.
        StartShareListBuild(build);
        return;
    }
    const std::set<QString> askers = std::move(build.askers);
    shareListBuilds.erase(found);
    BuiltShareList& built = builtShareLists[audience] = BuiltShareList();
    built.message.WriteBuffer(message.constData(), message.size());
    Log("Shared", 2,
        QString("Built share list of %1 folders, %2 bytes")
            .arg(folderCount)
            .arg(built.message.GetWrittenLength()));
    // Every receiver drops a link that brings a frame past the limit; an empty message failed.
    built.tooLarge = built.message.GetWrittenLength() < 4 ||
                     std::uint32_t(built.message.GetWrittenLength()) > PeerFrame::MaxBodyLength;
    if (built.tooLarge)
    {
        Log("Shared", 1, "Share list is too large to send, not sending it until the shares change");
        built.message = MemStream();
        return;
    }
    if (!peerMessenger)
        return;
    const MemStream list = built.message;
    Type* users = d.GetType(ServerTypes::user);
    for (const QString& asker : askers)
    {
        // One who has left since can ask again; dialling back would let a peer that asks under
        // many names and hangs up send us after it.
        ItemPtr user = users->HasItem(Value(asker));
        if (!user.IsConnected(PeerTypes::peerSocket))
            continue;
        // An asker who sees other roots by now (unshared, or in another group) is answered as
        // one asking now.
        MemStream answer = AudienceOf(asker) == audience ? list : GetSharedFilesMessage(asker);
        if (answer.GetWrittenLength() >= 4)
            peerMessenger->SendMessage(asker, answer);
    }
}

void SharedFoldersManager::OnFilesInFoldersRequested(QString user, quint32 token, QString folder)
{
    QString localPath = folder;
    localPath.replace('\\', '/');
    ItemPtr folderItem = d.GetType(sharedFileFolder)->HasItem(Value(localPath));
    if (folderItem.IsNull() || !IsFolderVisible(folderItem, GetUserSharedFolders(user)) ||
        !peerMessenger)
        return;
    FolderContentsBody contents;
    contents.token = token;
    contents.requestedFolder = folder;
    std::set<FileInfo>& files = contents.folders[folder].files;
    for (ItemPtr file : folderItem.GetItems(sharedFile))
        files.insert(DescribeFile(file, file[sharedFileName].AsStdString(), false));
    MemStream body;
    MemStream message;
    contents.Write(body);
    if (CompressedBody::Compress(PeerMessageCode::PM_SHARED_FILES_IN_FOLDER, body, message))
        peerMessenger->SendMessage(user, message);
}
