#include "Server.h"

#include "Data.h"
#include "MessageCode.h"
#include "ServerStore.h"
#include "ServerTypes.h"
#include "Settings.h"

using ServerStore::User;

void Server::SendFilesFolders(int folders, int files)
{
    Send(SM_SHARED_FOLDERS_FILES, qint32(folders), qint32(files));
}

void Server::SendChildDepth(bool value)
{
    Send(SM_DNET_CHILD_DEPTH, value);
}

void Server::SendDNetHasParent(bool hasParent)
{
    // The server's flag says that the client still looks for a parent.
    Send(SM_SEND_DISTRIBUTIONS, !hasParent);
}

void Server::SendDNetLevel(int level)
{
    Send(SM_DNET_LEVEL, qint32(level));
}

void Server::SendDNetCanParent(bool canParent)
{
    Send(SM_CAN_PARENT, canParent);
}

void Server::GetRoomList()
{
    Send(SM_ROOM_LIST);
    // The room-list reply is taken only while this says yes; kept even when not sent.
    Settings::Set(ServerSettings::acceptRoomList, "yes");
}

void Server::UntrackUser(const QString& user)
{
    ItemPtr item = ServerStore::KnownUser(user);
    if (item.HasItem(ServerTypes::isTracked).IsNull())
        return;
    item.Disconnect(ServerTypes::isTracked);
    Send(SM_REMOVE_USER, user);
}

void Server::EnterRoom(const QString& room, bool isPrivate)
{
    // Unlike the one-byte flags of the other requests, this one takes four bytes.
    Send(SM_JOIN_ROOM, room, qint32(isPrivate ? 1 : 0));
}

void Server::SendCantConnectToPeer(unsigned int token, const QString& user)
{
    Send(SE_CANT_CONNECT_TO_PEER, quint32(token), user);
}

void Server::RemovePrivateRoomMember(const QString& room, const QString& user)
{
    Send(SM_REMOVE_ROOM_MEMBER, room, user);
}

void Server::AddPrivateRoomMember(const QString& room, const QString& user)
{
    Send(SM_ADD_ROOM_MEMBER, room, user);
}

void Server::GetUserStats(const QString& user)
{
    Send(SM_GET_USER_STATS, user);
}

void Server::GetUserStatus(const QString& user)
{
    Send(SM_GET_USER_STATUS, user);
}

void Server::SendRoomChat(const QString& room, const QString& text)
{
    Send(SM_SAY_CHATROOM, room, text);
}

unsigned int Server::SendIndirectConnectionRequest(const QString& user, const QString& type)
{
    const quint32 token = nextConnectionToken++;
    Send(SM_CONNECT_TO_PEER, token, user, type);
    return token;
}

void Server::GiveUpPrivateRoomMembership(const QString& room)
{
    Send(SM_REMOVE_OWN_ROOM_MEMBERSHIP, room);
}

void Server::AddPrivateRoomOperator(const QString& room, const QString& user)
{
    Send(SM_ADD_ROOM_OPERATOR, room, user);
}

void Server::LeaveRoom(const QString& room)
{
    // in_room goes when the server confirms the leave, not here.
    ItemPtr item = ServerStore::KnownRoom(room);
    if (!item.HasItem(ServerTypes::inRoom).IsNull())
        Send(SM_LEAVE_ROOM, room);
}

void Server::GetUserAddress(const QString& user)
{
    // One request per user until the reply removes the mark; each login asks again.
    ItemPtr item = User(user);
    if (!item.HasItem(ServerTypes::userAddressRequest).IsNull())
        return;
    Send(SM_GET_PEER_ADDRESS, user);
    item.NewItem(ServerTypes::userAddressRequest);
}

void Server::BannedUser(const QString& user)
{
    Send(SM_BAN_USER, user);
}

void Server::SetRoomTicker(const QString& room, const QString& text)
{
    Send(SM_SET_TICKER, room, text);
}

void Server::SendDNetGroupLeader(const QString& leader)
{
    Send(SM_DNET_GROUP_LEADER, leader);
}

void Server::GiftPrivileges(const QString& user, int days)
{
    Send(SM_GIVE_PRIVILEGE, user, qint32(days));
}

void Server::EnablePrivateRoomAdd(bool enable)
{
    Send(SM_ENABLE_PRIVATE_ROOM_ADD, enable);
}

void Server::SendPrivateChat(const QString& user, const QString& text)
{
    // The server takes one line per message.
    QString line = text;
    line.replace(QChar('\n'), QChar(' '));
    line.replace(QChar('\r'), QChar(' '));
    // The chat views record what left, so a dropped message must not show as sent.
    if (Send(SM_MESSAGE_USER, user, line))
        emit PrivateChatSent(user, line);
}

void Server::RemovePrivateRoomOperator(const QString& room, const QString& user)
{
    Send(SM_REMOVE_ROOM_OPERATOR, room, user);
}

void Server::AddUser(const QString& user)
{
    Send(SM_ADD_USER, user);
}

void Server::TrackUser(const QString& user)
{
    // Marked even while offline: each login names every tracked user to the server again.
    ItemPtr item = User(user);
    if (!item.HasItem(ServerTypes::isTracked).IsNull())
        return;
    item.NewItem(ServerTypes::isTracked);
    AddUser(user);
}

void Server::SendUploadSpeed(int bytesPerSecond)
{
    Send(SM_UPLOAD_SPEED, qint32(bytesPerSecond));
}

void Server::GiveUpPrivateRoom(const QString& room)
{
    Send(SM_GIVE_UP_ROOM, room);
}
