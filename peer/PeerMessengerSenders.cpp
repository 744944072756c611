// The messages that this client originates, field by field.
#include "PeerMessenger.h"

#include "PeerMessageCode.h"
#include "PeerTypes.h"
#include "Settings.h"

using Code = PeerMessageCode;

namespace {
template <class... Fields> MemStream Message(std::uint32_t code, const Fields&... fields)
{
    MemStream message;
    message.Write(code);
    (message.Write(fields), ...);
    return message;
}
} // namespace

void PeerMessenger::GetUserSharedFiles(const QString& user)
{
    MemStream message = Message(Code::PM_GET_SHARED_FILE_LIST);
    shareListsAsked.insert(user);
    SendMessage(user, message);
}

void PeerMessenger::GetUserInfo(const QString& user)
{
    MemStream message = Message(Code::PM_USER_INFO_REQUEST);
    SendMessage(user, message);
}

unsigned int PeerMessenger::RequestUpload(const QString& user, const QString& file, long long size)
{
    const unsigned int request = Settings::Get(PeerSettings::transferRequestCounter).AsUInt();
    Settings::Set(PeerSettings::transferRequestCounter, Value(request + 1));
    MemStream message = Message(Code::PM_TRANSFER_REQUEST, std::int32_t(1), std::uint32_t(request),
                                file, std::int64_t(size));
    SendMessage(user, message);
    return request;
}

void PeerMessenger::AcceptTransferRequest(const QString& user, unsigned int request, bool sendSize,
                                          long long size)
{
    MemStream message = Message(Code::PM_TRANSFER_RESPONSE, std::uint32_t(request), true);
    if (sendSize)
        message.Write(std::int64_t(size));
    SendMessage(user, message);
}

void PeerMessenger::DenyTransferRequest(const QString& user, unsigned int request,
                                        const QString& reason)
{
    MemStream message = Message(Code::PM_TRANSFER_RESPONSE, std::uint32_t(request), false, reason);
    SendMessage(user, message);
}

void PeerMessenger::QueueDownload(const QString& user, const std::string& file)
{
    MemStream message = Message(Code::PM_QUEUE_UPLOAD, file);
    SendMessage(user, message);
}

void PeerMessenger::SendUploadPlaceInLine(const QString& user, const QString& file, int place)
{
    MemStream message = Message(Code::PM_UPLOAD_PLACE_IN_LINE, file, std::int32_t(place));
    SendMessage(user, message);
}

void PeerMessenger::DenyUpload(const QString& user, const QString& file, const QString& reason)
{
    MemStream message = Message(Code::PM_UPLOAD_DENIED, file, reason);
    SendMessage(user, message);
}

void PeerMessenger::QueueUpload(const QString& user, const QString& file, long long size)
{
    MemStream message = Message(Code::QueueUploadFromUs, file, std::int64_t(size));
    SendMessage(user, message);
}

void PeerMessenger::SendMessageToUser(const QString& user, MemStream& message)
{
    SendMessage(user, message);
}
