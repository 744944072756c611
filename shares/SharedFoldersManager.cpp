#include "SharedFoldersManager.h"

#include <QElapsedTimer>

#include "DNetManager.h"
#include "Data.h"
#include "DataSaver.h"
#include "ExtendedAsciiTranslator.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTypes.h"
#include "TypeTable.h"
#include "UploadQueue.h"

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace {
using namespace SharesTypes;
using TypeTable::RelationRow;
using TypeTable::TypeRow;

const TypeRow typeRows[] = {
    {sharedFolder, PrimacyRoot, false},
    {sharedFile, PrimacyIntermediate, true},
    {sharedFileName, PrimacyIntermediate, false},
    {sharedFileLowercaseName, PrimacyLeaf, false},
    {sharedFileFolder, PrimacyIntermediate, false},
    {sharedFileFolderLowercaseName, PrimacyLeaf, false},
    {sharedFileSize, PrimacyLeaf, false},
    {sharedPublic, PrimacyLeaf, true},
    {sharedUserlist, PrimacyLeaf, true},
    {isScanned, PrimacyLeaf, true},
    {sharedFolderId, PrimacyLeaf, false},
    {userShare, PrimacyRoot, true},
    {userShareFolder, PrimacyIntermediate, true},
    {userShareFolderParent, PrimacyIntermediate, true},
    {userShareFolderChild, PrimacyIntermediate, true},
    {userShareFolderName, PrimacyLeaf, false},
    {userShareFile, PrimacyIntermediate, true},
    {userShareFileName, PrimacyLeaf, false},
    {searchToken, PrimacyLeaf, false},
    {unshared, PrimacyLeaf, true},
};

const RelationRow relationRows[] = {
    {sharedFolder, sharedFileFolder, Many, Many, false},
    {sharedFileFolder, sharedFile, Many, One, true},
    {sharedFileFolder, sharedFileFolderLowercaseName, One, Many, false},
    {sharedFile, sharedFileName, One, Many, false},
    {sharedFileName, sharedFileLowercaseName, One, Many, false},
    {sharedFile, sharedFileSize, One, Many, false},
    {sharedFolder, sharedPublic, One, Many, false},
    {sharedFolder, sharedUserlist, One, Many, false},
    {sharedFileFolder, isScanned, One, Many, false},
    {sharedFile, isScanned, One, Many, false},
    {sharedFolder, ServerTypes::userListGroup, Many, Many, false},
    {sharedFolder, sharedFolderId, One, One, false},
    {sharedFile, PeerTypes::mpegVersion, One, Many, false},
    {sharedFile, PeerTypes::channelMode, One, Many, false},
    {sharedFile, PeerTypes::audioFrequency, One, Many, false},
    {sharedFile, PeerTypes::bitrateMode, One, Many, false},
    {sharedFile, PeerTypes::bitrate, One, Many, false},
    {userShare, ServerTypes::user, One, One, false},
    {userShare, userShareFolder, Many, One, true},
    {userShareFolder, userShareFolderName, One, Many, false},
    {userShareFolder, userShareFile, Many, One, true},
    {userShareFolder, userShareFolderParent, One, One, false},
    {userShareFolder, userShareFolderChild, Many, One, false},
    {userShareFolderParent, userShareFolderChild, One, One, false},
    {userShareFile, userShareFileName, One, Many, false},
    {userShareFile, PeerTypes::fileSize, One, Many, false},
    {userShareFile, PeerTypes::bitrateMode, One, Many, false},
    {userShareFile, PeerTypes::bitrate, One, Many, false},
    {userShareFile, PeerTypes::lengthSeconds, One, Many, false},
    {searchToken, sharedFile, Many, Many, false},
    {ServerTypes::user, unshared, One, Many, false},
};

void RegisterSavedTypes()
{
    if (!dataSaver)
        return;
    dataSaver->AddSavedType(sharedFolder);
    for (const char* type : {sharedPublic, sharedUserlist, sharedFolderId})
        dataSaver->AddSavedByConnectionType(type, sharedFolder);
    dataSaver->AddSavedType(isScanned);
    dataSaver->AddSavedByConnectionType(sharedFile, sharedFileFolder);
    dataSaver->AddSavedByConnectionType(sharedFileFolder, sharedFolder);
    for (const char* type :
         {sharedFileName, sharedFileSize, PeerTypes::mpegVersion, PeerTypes::channelMode,
          PeerTypes::audioFrequency, PeerTypes::bitrateMode, PeerTypes::bitrate})
        dataSaver->AddSavedByConnectionType(type, sharedFile);
    dataSaver->AddSavedType(unshared);
    dataSaver->AddSavedByConnectionType(ServerTypes::user, unshared);
}

ItemPtr Mark(const char* type)
{
    return d.GetType(type)->GetGlobalNullItem();
}

ItemPtr ExistingUser(const QString& name)
{
    return d.GetType(ServerTypes::user)->HasItem(Value(name));
}

// Separators read alike and doubled ones as one, case kept: how a path is compared exactly.
QString PlainSeparators(QString path)
{
    path.replace('\\', '/');
    QString folded;
    folded.reserve(path.size());
    for (QChar character : path)
        if (character != '/' || !folded.endsWith('/'))
            folded.append(character);
    return folded;
}
} // namespace

SharedFoldersManager::SharedFoldersManager(QObject* parent) : QObject(parent)
{
    sharedFoldersManager = this;
    compressing.setMaxThreadCount(1);
    DeclareTypes(d);
    RegisterSavedTypes();
    fileTypes = {d.GetType(sharedFileName), d.GetType(sharedFileFolder), d.GetType(sharedFileSize),
                 d.GetType(PeerTypes::bitrate), d.GetType(PeerTypes::bitrateMode)};
    Listen(d.GetType(sharedFile)->itemRemoved, this, &SharedFoldersManager::OnSharedFileRemoved);
    Listen(d.GetType(sharedFile)->connected, this, &SharedFoldersManager::OnSharedFileConnected);
    Listen(d.GetType(sharedFile)->disconnected, this,
           &SharedFoldersManager::OnSharedFileDisconnected);
    for (const char* type : {sharedFile, sharedFolder})
    {
        Listen(d.GetType(type)->connected, this, &SharedFoldersManager::OnShareChanged);
        Listen(d.GetType(type)->disconnected, this, &SharedFoldersManager::OnShareChanged);
    }
    Settings::Set(SharesSettings::sharedFolderCounter, "1");

    scannerThread.start();
    scanner.moveToThread(&scannerThread);
    if (peerMessenger)
    {
        peerMessenger->SetSharesProvider(this);
        connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, this,
                &SharedFoldersManager::OnFilesInFoldersRequested);
    }
    connect(this, &SharedFoldersManager::MP3ScanRequired, &scanner,
            &FileScanner::OnMP3ScanRequired);
    connect(&scanner, &FileScanner::MP3Scanned, this, &SharedFoldersManager::OnMP3Scanned);
    if (gp_server)
    {
        connect(gp_server, &Server::Connected, this, &SharedFoldersManager::OnConnectedToServer);
        connect(gp_server, &Server::ReceivedUserStats, this,
                &SharedFoldersManager::OnReceivedUserStats);
        connect(gp_server, &Server::DirectFileSearch, this,
                &SharedFoldersManager::OnDirectFileSearch);
    }
    connect(&scanner, &FileScanner::FoldersScanned, this,
            &SharedFoldersManager::OnFoldersRescanned);
    // Direct, so that a search is answered here before the network relays it further down.
    if (dnetManager)
        connect(dnetManager, &DNetManager::DNetSearchRequest, this,
                &SharedFoldersManager::OnDNetSearchRequest, Qt::DirectConnection);
}

SharedFoldersManager::~SharedFoldersManager()
{
    // An answer still compressing is dropped: its send is queued to this object, which goes.
    compressing.waitForDone();
    scanner.Quit();
    scannerThread.exit(0);
    scannerThread.wait();
    if (peerMessenger)
        peerMessenger->SetSharesProvider(nullptr);
    if (sharedFoldersManager == this)
        sharedFoldersManager = nullptr;
}

void SharedFoldersManager::DeclareTypes(Data& store)
{
    // A manager made again in the same store (a restart of the shares alone) finds them there.
    if (store.HasType(sharedFolder))
        return;
    TypeTable::Declare(store, typeRows, relationRows);
}

ItemSet SharedFoldersManager::GetUserSharedFolders(const QString& user)
{
    ItemPtr userItem = ExistingUser(user);
    if (userItem.IsConnected(unshared))
        return ItemSet();
    ItemSet roots = Mark(sharedPublic).GetItems(sharedFolder);
    ItemPtr listed = userItem[ServerTypes::inUserList];
    if (listed.IsNull())
        return roots;
    roots.Add(Mark(sharedUserlist).GetItems(sharedFolder));
    for (ItemPtr group : listed.GetItems(ServerTypes::userListGroup))
        roots.Add(group.GetItems(sharedFolder));
    return roots;
}

bool SharedFoldersManager::IsFileSharedWithUser(ItemPtr file, const QString& user)
{
    ItemPtr userItem = d.GetType(ServerTypes::user)->GetItem(Value(user));
    if (userItem.IsConnected(unshared) || file.IsNull())
        return false;
    const ItemSet roots = file[sharedFileFolder].GetItems(sharedFolder);
    if (!roots.Connected(sharedPublic).Empty())
        return true;
    ItemPtr listed = userItem[ServerTypes::inUserList];
    if (listed.IsNull())
        return false;
    if (!roots.Connected(sharedUserlist).Empty())
        return true;
    for (ItemPtr group : listed.GetItems(ServerTypes::userListGroup))
        if (!roots.Connected(group).Empty())
            return true;
    return false;
}

bool SharedFoldersManager::IsUserAddressUnshared(const QString& user)
{
    ItemPtr userItem = d.GetType(ServerTypes::user)->GetItem(Value(user));
    ItemPtr address = userItem[PeerTypes::userAddress];
    if (address.IsNull())
        return false;
    return !address.GetItems(ServerTypes::user).Connected(unshared).Empty();
}

void SharedFoldersManager::OnUserAddress(ItemPtr user)
{
    if (user.IsConnected(unshared) || !IsUserAddressUnshared(user.AsString()))
        return;
    if (uploadQueue)
        uploadQueue->UnshareUser(user.AsString());
    else
        user.NewItem(unshared);
}

void SharedFoldersManager::RemoveUserShare(const QString& user)
{
    ItemPtr share = ExistingUser(user)[userShare];
    if (share.IsNull())
        return;
    for (ItemPtr folder : share.GetItems(userShareFolder))
        folder.GetItems(userShareFile).Remove();
    share.GetItems(userShareFolder).Remove();
    share.Remove();
    d.RemoveDisconnectedItems();
}

QString SharedFoldersManager::GetAbsoluteFileName(QString path)
{
    return PlainSeparators(path.toLower());
}

ItemPtr SharedFoldersManager::GetSharedFileItem(const QString& path)
{
    const std::string lookup = GetAbsoluteFileName(path).toStdString();
    const std::string nameForm = GetFileName(lookup);
    const std::string folderForm = GetFolder(lookup);
    StartLookupFill();
    EnterPendingFolders(folderForm);
    const QString exact = PlainSeparators(path);
    ItemPtr found;
    QString foundPath;
    sharedFiles.ForEachWithKey(SharedFileLookup::Key(folderForm, nameForm), [&](Item* candidate) {
        ItemPtr file(candidate);
        ItemPtr folder = file->HasItem(fileTypes.folder);
        ItemPtr name = file->HasItem(fileTypes.name);
        if (LookupForm(name) != nameForm || LookupForm(folder) != folderForm)
            return true;
        // Names that differ only in case are different files: the exact spelling wins, else the
        // first spelling in byte order, whatever order the files were entered in.
        const QString candidatePath = PlainSeparators(folder.AsString() + "/" + name.AsString());
        if (candidatePath == exact)
        {
            found = file;
            return false;
        }
        if (found.IsNull() || candidatePath < foundPath)
        {
            found = file;
            foundPath = candidatePath;
        }
        return true;
    });
    return found;
}

std::string SharedFoldersManager::LookupForm(ItemPtr folderOrName)
{
    return LookupForm(folderOrName->value.Bytes());
}

namespace {
// Calls take(char) with each character of the form of ASCII bytes; false at the first byte past
// ASCII, whose form only the text's lower case gives.
template <class Take> bool AsciiForm(std::string_view bytes, Take take)
{
    char last = 0;
    for (char byte : bytes)
    {
        if (static_cast<unsigned char>(byte) >= 0x80)
            return false;
        if (byte == '\\')
            byte = '/';
        else if (byte >= 'A' && byte <= 'Z')
            byte = char(byte - 'A' + 'a');
        if (byte == '/' && last == '/')
            continue;
        last = byte;
        if (!take(byte))
            return true;
    }
    return true;
}
} // namespace

std::string SharedFoldersManager::LookupForm(std::string_view bytes)
{
    // Most paths are ASCII: their form is made on the bytes, as the text's form would be.
    std::string form;
    form.reserve(bytes.size());
    if (!AsciiForm(bytes, [&form](char byte) { return form += byte, true; }))
        return GetAbsoluteFileName(ToQString(std::string(bytes))).toStdString();
    return form;
}

bool SharedFoldersManager::HasLookupForm(std::string_view bytes, const std::string& form)
{
    // Compared as it is made: a look-up meets every folder still to fill, most of them unlike.
    size_t at = 0;
    bool same = true;
    if (!AsciiForm(bytes, [&](char byte) { return same = at < form.size() && form[at++] == byte; }))
        return LookupForm(bytes) == form;
    return same && at == form.size();
}

void SharedFoldersManager::StartLookupFill()
{
    if (lookupLive)
        return;
    lookupLive = true;
    sharedFiles.Clear();
    sharedFiles.Reserve(d.GetType(sharedFile)->ItemCount());
    lookupPending = {};
    // In the store's order: sorting a large share's folders by path took most of a pass.
    lookupPending.ends.reserve(d.GetType(sharedFileFolder)->ItemCount());
    for (ItemPtr folder : d.GetType(sharedFileFolder)->GetItems())
        lookupPending.Add(folder->value.Bytes());
    lookupNext = 0;
    QueueLookupSlice();
}

void SharedFoldersManager::QueueLookupSlice()
{
    if (lookupSliceQueued)
        return;
    lookupSliceQueued = true;
    QMetaObject::invokeMethod(this, &SharedFoldersManager::FillLookupSlice, Qt::QueuedConnection);
}

bool SharedFoldersManager::IsLookupFull() const
{
    return lookupLive && lookupNext == lookupPending.size();
}

bool SharedFoldersManager::FillLookupStep(int folders)
{
    StartLookupFill();
    Type* folderType = d.GetType(sharedFileFolder);
    for (; folders > 0 && lookupNext < lookupPending.size(); --folders)
        EnterFolderFiles(folderType->HasItem(Value(std::string(lookupPending[lookupNext++]))));
    if (lookupNext < lookupPending.size())
        return true;
    lookupPending = {};
    lookupNext = 0;
    return false;
}

void SharedFoldersManager::FillLookupSlice()
{
    lookupSliceQueued = false;
    QElapsedTimer spent;
    spent.start();
    bool more = true;
    while (more && spent.elapsed() < lookupSliceMs)
        more = FillLookupStep(64);
    if (more)
    {
        QueueLookupSlice();
        return;
    }
    Log("Profiling", 1, QString("Lookup by path filled: %1 files").arg(sharedFiles.Size()));
    if (walkMerged)
        ReleaseWalk();
}

void SharedFoldersManager::EnterFolderFiles(ItemPtr folder)
{
    if (folder.IsNull())
        return;
    for (ItemPtr file : folder.GetItems(sharedFile))
        EnterFile(file, folder, file->HasItem(fileTypes.name), true);
}

void SharedFoldersManager::EnterPendingFolders(const std::string& folderForm)
{
    if (IsLookupFull())
        return;
    Type* folderType = d.GetType(sharedFileFolder);
    for (size_t at = lookupNext; at < lookupPending.size(); ++at)
        if (HasLookupForm(lookupPending[at], folderForm))
            EnterFolderFiles(folderType->HasItem(Value(std::string(lookupPending[at]))));
}

void SharedFoldersManager::EnterFile(ItemPtr file, ItemPtr folder, ItemPtr name, bool entered)
{
    if (!lookupLive || folder.IsNull() || name.IsNull())
        return;
    // The files of a folder come one after the other: its form is made once for them.
    if (folder.Get() != formedFolder || folder->value.Bytes() != formedFolderValue)
    {
        formedFolder = folder.Get();
        formedFolderValue = folder->value.Bytes();
        formedFolderForm = LookupForm(folder);
    }
    const uint64_t key = SharedFileLookup::Key(formedFolderForm, LookupForm(name));
    if (entered)
        sharedFiles.Add(file, key);
    else
        sharedFiles.Remove(file, key);
}

void SharedFoldersManager::OnSharedFileConnected(ConnectionInfo change)
{
    EnterFileOf(change, true);
}

void SharedFoldersManager::OnSharedFileDisconnected(ConnectionInfo change)
{
    EnterFileOf(change, false);
}

void SharedFoldersManager::EnterFileOf(ConnectionInfo change, bool entered)
{
    Type* partner = change.to.GetType();
    if (partner == fileTypes.name)
        EnterFile(change.from, change.from->HasItem(fileTypes.folder), change.to, entered);
    else if (partner == fileTypes.folder)
        EnterFile(change.from, change.to, change.from->HasItem(fileTypes.name), entered);
}

QString SharedFoldersManager::GetFileItemDisplayString(ItemPtr file)
{
    QString text;
    ItemPtr bitrate = file[PeerTypes::bitrate];
    if (!bitrate.IsNull())
        text += QString::number(bitrate.AsInt());
    const std::string mode = file[PeerTypes::bitrateMode].AsStdString();
    if (mode == "vbr")
        text += " VBR";
    else if (mode == "cbr")
        text += " CBR";
    ItemPtr length = file[PeerTypes::lengthSeconds];
    if (!length.IsNull())
        text += ", " + FormatSeconds(length.AsInt());
    return text;
}

void SharedFoldersManager::OnConnectedToServer()
{
    const int folders = static_cast<int>(d.GetType(sharedFileFolder)->ItemCount());
    const int files = static_cast<int>(d.GetType(sharedFile)->ItemCount());
    gp_server->SendFilesFolders(folders, files);
    gp_server->GetUserStats(Settings::GetText(SharesSettings::username));
}

void SharedFoldersManager::OnReceivedUserStats(QString user, UserStats stats)
{
    if (user != Settings::GetText(SharesSettings::username))
        return;
    Settings::Set(SharesSettings::uploadSpeed, Value(int(stats.m_averageSpeed)));
}
