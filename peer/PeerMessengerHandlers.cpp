// The messaging stage: every frame on a messaging link after its first one.
#include "PeerMessenger.h"

#include <utility>
#include <vector>

#include "CompressedBody.h"
#include "Data.h"
#include "ExtendedAsciiTranslator.h"
#include "FileInfo.h"
#include "GeneralFunctions.h"
#include "Item.h"
#include "Log.h"
#include "PeerMessageCode.h"
#include "PeerTypes.h"
#include "SearchParser.h"
#include "ServerStore.h"
#include "ShareListBody.h"
#include "SharesProvider.h"

using namespace PeerTypes;
using Code = PeerMessageCode;
using ServerStore::User;

namespace {
constexpr const char* logArea = "Peer Messenger";
constexpr std::int32_t maxResultCount = 0x20000;

// Inflates what follows the code; an undecodable body gives an empty stream, so that the
// handler's first read fails.
MemStream Inflate(MemStream& body)
{
    MemStream inflated;
    if (!CompressedBody::Inflate(body.GetReadBuffer(), body.GetPendingReadLength(), inflated))
        inflated.Reset();
    return inflated;
}

bool ReadByte(MemStream& body, unsigned char& byte)
{
    return body.ReadBuffer(&byte, 1);
}

// A mark of a type that another subsystem declares, false while that type does not exist.
bool HasMark(ItemPtr item, const char* type)
{
    return !item.IsNull() && d.HasType(type) && item.IsConnected(type);
}

ItemPtr Attribute(const char* type, const Value& value)
{
    return d.GetType(type)->GetItem(value);
}
} // namespace

bool PeerMessenger::HandleMessage(QTcpSocket* socket, MemStream body)
{
    const Value key(socket);
    if (d.GetType(uninitializedSocket)->HasItem(key))
        return HandleFirstFrame(socket, body);
    ItemPtr link = d.GetType(peerSocket)->HasItem(key);
    ItemPtr userItem = link[ServerTypes::user];
    const QString user = userItem.AsString();
    std::uint32_t code = 0;
    if (link.IsNull() || !body.Read(code))
    {
        Log(logArea, 1,
            QString("Could not read message code on connection to user %1, disposing of socket")
                .arg(user),
            userItem);
        return false;
    }
    if (QDateTime* clock = ActivityClock(link))
        *clock = QDateTime::currentDateTime();
    Log(logArea, 1,
        QString("Received %1 message from user %2")
            .arg(PeerMessageCode::MessageCodeToString(static_cast<int>(code)), user),
        userItem);

    switch (code)
    {
    case Code::PM_FILE_SEARCH_RESULT:
        return OnSearchResults(user, body);
    case Code::PM_GET_SHARED_FILE_LIST:
        return OnSharedFileListRequest(user);
    case Code::PM_SHARED_FILE_LIST:
        return OnSharedFileList(user, body);
    case Code::PM_TRANSFER_REQUEST:
        return OnTransferRequest(user, body);
    case Code::PM_QUEUE_UPLOAD:
        return OnQueueUpload(user, body);
    case Code::QueueUploadFromUs:
        return OnQueueDownload(user, body);
    case Code::PM_TRANSFER_RESPONSE:
        return OnTransferResponse(user, body);
    case Code::PM_UPLOAD_FAILED:
        return OnUploadFailed(user, body);
    case Code::PM_UPLOAD_DENIED:
        return OnUploadDenied(user, body);
    case Code::PM_GET_SHARED_FILES_IN_FOLDER:
        return OnFolderContentsRequest(user, body);
    case Code::PM_UPLOAD_PLACE_IN_LINE:
        return OnUploadPlaceInLine(user, body);
    case Code::PM_UPLOAD_PLACE_IN_LINE_REQUEST:
        return OnUploadPlaceInLineRequest(user, body);
    case Code::PM_USER_INFO_REQUEST:
        emit UserInfoRequested(user);
        return true;
    case Code::PM_USER_INFO_REPLY:
        return OnUserInfoReply(user, body);
    default:
        // Logged above; unwanted but harmless.
        return true;
    }
}

bool PeerMessenger::OnSearchResults(const QString& user, MemStream& body)
{
    if (HasMark(User(user), unshared))
        return true;
    MemStream inflated = Inflate(body);
    return StoreSearchResults(user, inflated);
}

bool PeerMessenger::StoreSearchResults(const QString& linkUser, MemStream& inflated)
{
    QString resultUser;
    std::uint32_t token = 0;
    if (!inflated.Read(resultUser) || resultUser != linkUser || !inflated.Read(token))
        return false;
    ItemPtr request = d.GetType(searchRequest)->HasItem(Value(token));
    ItemPtr userItem = d.GetType(ServerTypes::user)->HasItem(Value(resultUser));
    if (HasMark(userItem, ServerTypes::isIgnored))
    {
        Log("Search", 1, QString("Discarding search results from ignored user %1").arg(resultUser));
        return true;
    }
    if (request.IsNull() || request.IsConnected(searchStopped))
        return true;
    SearchParser parser;
    parser.SetSearchText(request[searchRequestText].AsString());

    std::int32_t count = 0;
    if (!inflated.Read(count) || count < 0 || count > maxResultCount)
        return false;
    // Grown as records arrive: the count alone must not size an allocation.
    std::vector<FileInfo> records;
    for (std::int32_t index = 0; index < count; ++index)
    {
        FileInfo record;
        if (!inflated.Read(record))
            return false;
        records.push_back(std::move(record));
    }
    unsigned char freeSlot = 0;
    std::int32_t uploadSpeed = 0;
    std::int32_t queuedUploads = 0;
    // The trailer may be cut short anywhere; what is missing reads as 0.
    if (ReadByte(inflated, freeSlot) && inflated.Read(uploadSpeed))
        inflated.Read(queuedUploads);

    userItem = User(resultUser);
    const bool wishList = request.IsConnected(wishlistSearch);
    ItemPtr results = d.GetType(searchResults)->NewItem();
    Type* resultType = d.GetType(searchResult);
    bool stored = false;
    for (const FileInfo& record : records)
    {
        if (!parser.IsMatch(ToQString(record.name)))
        {
            if (LogEnabled())
                Log("Search", 1,
                    QString("Filtered out search result %1 from user %2")
                        .arg(ToQString(record.name), resultUser));
            continue;
        }
        ItemPtr name = Attribute(searchResultFileName, GetFileName(record.name));
        ItemPtr folder = Attribute(searchResultFileFolder, GetFolder(record.name));
        bool duplicate = false;
        // Walks the smaller of the two sets in place and probes the other: both grow with the
        // results already stored, so neither is copied.
        const ItemSet* byName = name->connections.ItemsOf(resultType);
        const ItemSet* byFolder = folder->connections.ItemsOf(resultType);
        if (!byName || !byFolder)
            byName = byFolder = nullptr;
        else if (byFolder->Size() < byName->Size())
            std::swap(byName, byFolder);
        static const ItemSet none;
        for (ItemPtr earlier : byName ? *byName : none)
        {
            if (!byFolder->Contains(earlier))
                continue;
            ItemPtr reply = earlier[searchResults];
            if (reply.IsNull() || !reply.IsConnected(userItem))
                continue;
            ItemPtr replyRequest = reply[searchRequest];
            if (replyRequest == request || (wishList && replyRequest.IsConnected(wishlistSearch)))
            {
                duplicate = true;
                break;
            }
        }
        if (duplicate)
            continue;

        ItemPtr result = d.GetType(searchResult)->NewItem();
        for (const auto& [code, number] : record.attributes.pairs)
        {
            if (code == AttributeMap::Bitrate)
                result.Connect(Attribute(bitrate, Value(number)));
            else if (code == AttributeMap::Length)
                result.Connect(Attribute(lengthSeconds, Value(number)));
            else if (code == AttributeMap::BitrateMode)
                result.Connect(Attribute(bitrateMode, number != 0 ? "vbr" : "cbr"));
        }
        result.Connect(results);
        result.Connect(name);
        result.Connect(folder);
        result.Connect(Attribute(fileSize, Value(static_cast<long long>(record.size))));
        stored = true;
    }
    if (!stored)
    {
        results.Remove();
        return true;
    }
    results.Connect(request);
    results.Connect(userItem);
    results.Connect(Attribute(searchResultsUserAvailable, freeSlot != 0 ? "yes" : "no"));
    results.Connect(Attribute(searchResultsUserSpeed, Value(uploadSpeed)));
    results.Connect(Attribute(searchResultsUploadsInQueue, Value(queuedUploads)));
    emit SearchResults(results);
    return true;
}

bool PeerMessenger::OnSharedFileListRequest(const QString& user)
{
    if (!sharesProvider)
    {
        Log(logArea, 1, "No shares to answer a share-list request", User(user));
        return true;
    }
    // Each list may be megabytes: a peer asking again before reading gets nothing more.
    for (ItemPtr link : User(user).GetItems(peerSocket))
        if (IsShareListUnsent(link.AsPointer<QTcpSocket>()))
        {
            Log(logArea, 1, "Share list still being sent to user, ignoring request", User(user));
            return true;
        }
    MemStream message = sharesProvider->GetSharedFilesMessage(user);
    // Empty when there is no list that could be sent.
    if (message.GetWrittenLength() >= 4)
        SendMessage(user, message);
    return true;
}

bool PeerMessenger::OnSharedFileList(const QString& user, MemStream& body)
{
    // Unasked, a list would cost its inflating and fill the user's share view.
    if (shareListsAsked.erase(user) == 0)
    {
        Log(logArea, 1, "Share list that was not asked for, ignoring it", User(user));
        return true;
    }
    MemStream inflated = Inflate(body);
    ShareListBody shares;
    if (!shares.Read(inflated))
        return false;
    emit UserShare(user, shares.folders, shares.attributeNames);
    return true;
}

bool PeerMessenger::OnFolderContentsRequest(const QString& user, MemStream& body)
{
    std::uint32_t token = 0;
    QString folder;
    if (!body.Read(token) || !body.Read(folder))
        return false;
    emit SharedFilesInFolderRequested(user, token, folder);
    return true;
}

bool PeerMessenger::OnUserInfoReply(const QString& user, MemStream& body)
{
    QString description;
    unsigned char hasPicture = 0;
    std::int32_t pictureLength = 0;
    char* picture = nullptr;
    if (!body.Read(description) || !ReadByte(body, hasPicture))
        return false;
    if (hasPicture != 0)
    {
        if (!body.Read(pictureLength) || pictureLength < 0 ||
            pictureLength > body.GetPendingReadLength())
            return false;
        // The bytes stay in the body, which outlives the emission.
        picture = const_cast<char*>(body.GetReadBuffer());
        std::vector<char> skipped(static_cast<size_t>(pictureLength));
        body.ReadBuffer(skipped.data(), static_cast<unsigned long>(pictureLength));
    }
    std::int32_t uploadSlots = 0;
    std::int32_t queuedUploads = 0;
    unsigned char freeSlot = 0;
    if (!body.Read(uploadSlots) || !body.Read(queuedUploads) || !ReadByte(body, freeSlot))
        return false;
    emit UserInfoReceived(user, description, hasPicture != 0, picture, pictureLength, uploadSlots,
                          queuedUploads, freeSlot != 0);
    return true;
}

bool PeerMessenger::OnTransferRequest(const QString& user, MemStream& body)
{
    std::int32_t direction = 0;
    std::uint32_t request = 0;
    std::string file;
    std::int64_t size = 0;
    if (!body.Read(direction) || !body.Read(request) || !body.Read(file))
        return false;
    if (direction == 1 && !body.Read(size))
        return false;
    emit FileTransferRequested(user, direction, request, file, size);
    return true;
}

bool PeerMessenger::OnTransferResponse(const QString& user, MemStream& body)
{
    std::uint32_t request = 0;
    unsigned char accepted = 0;
    if (!body.Read(request) || !ReadByte(body, accepted))
        return false;
    if (accepted != 0)
    {
        std::int64_t size = 0;
        const bool sizeReceived = body.Read(size);
        emit FileTransferResponse(user, request, true, sizeReceived, sizeReceived ? size : 0,
                                  QString());
        return true;
    }
    QString reason;
    if (!body.Read(reason))
        return false;
    emit FileTransferResponse(user, request, false, false, 0, reason);
    return true;
}

bool PeerMessenger::OnQueueUpload(const QString& user, MemStream& body)
{
    QString file;
    if (!body.Read(file))
        return false;
    emit QueueUploadRequested(user, file);
    return true;
}

bool PeerMessenger::OnUploadPlaceInLine(const QString& user, MemStream& body)
{
    std::string file;
    std::int32_t place = 0;
    if (!body.Read(file) || !body.Read(place))
        return false;
    emit DownloadPlaceInLine(user, file, place);
    return true;
}

bool PeerMessenger::OnUploadFailed(const QString& user, MemStream& body)
{
    std::string file;
    if (!body.Read(file))
        return false;
    emit UploadFailed(user, file);
    return true;
}

bool PeerMessenger::OnUploadDenied(const QString& user, MemStream& body)
{
    std::string file;
    QString reason;
    if (!body.Read(file) || !body.Read(reason))
        return false;
    emit UploadDenied(user, file, reason);
    return true;
}

bool PeerMessenger::OnUploadPlaceInLineRequest(const QString& user, MemStream& body)
{
    QString file;
    if (!body.Read(file))
        return false;
    emit UploadPlaceInLineRequested(user, file);
    return true;
}

bool PeerMessenger::OnQueueDownload(const QString& user, MemStream& body)
{
    std::string file;
    std::int64_t size = 0;
    if (!body.Read(file) || !body.Read(size))
        return false;
    emit QueueDownloadRequested(user, file, size);
    return true;
}
