#include "Server.h"

#include <set>

#include "Data.h"
#include "MessageFields.h"
#include "ServerStore.h"
#include "ServerTypes.h"
#include "Settings.h"

using MessageFields::ReadName;
using MessageFields::ReadUInt8;
using ServerStore::KnownRoom;
using ServerStore::KnownUser;
using ServerStore::Room;
using ServerStore::User;

namespace {
// The members and operators lists share one shape: a node of the room holding user items.
void ReplaceRoomUsers(MemStream& body, const char* node)
{
    QString room;
    if (!ReadName(body, room, "room"))
        return;
    std::set<QString> names;
    body.Read(names);
    ItemPtr holder = Room(room).NewItem(node);
    holder.Disconnect(ServerTypes::user);
    for (const QString& name : names)
        holder.Connect(User(name));
}

void AddRoomUser(MemStream& body, const char* node)
{
    QString room, name;
    if (!ReadName(body, room, "room") || !ReadName(body, name, "user"))
        return;
    Room(room).NewItem(node).Connect(User(name));
}

void RemoveRoomUser(MemStream& body, const char* node)
{
    QString room, name;
    if (!ReadName(body, room, "room") || !ReadName(body, name, "user"))
        return;
    ItemPtr holder = KnownRoom(room).HasItem(node);
    ItemPtr user = KnownUser(name);
    if (!holder.IsNull() && !user.IsNull())
        holder.Disconnect(user);
}
} // namespace

void Server::OnRoomMembers(MemStream& body)
{
    ReplaceRoomUsers(body, ServerTypes::roomMembers);
}

void Server::OnRoomMemberAdded(MemStream& body)
{
    AddRoomUser(body, ServerTypes::roomMembers);
}

void Server::OnRoomMemberRemoved(MemStream& body)
{
    RemoveRoomUser(body, ServerTypes::roomMembers);
}

void Server::OnRoomMembershipAdded(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "room"))
        return;
    ItemPtr room = Room(name);
    room.NewItem(ServerTypes::isPrivate);
    room.NewItem(ServerTypes::isMember);
    // Being made a member is taken as an invitation to come in at once.
    EnterRoom(name, false);
}

void Server::OnRoomMembershipRemoved(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "room"))
        return;
    ItemPtr room = KnownRoom(name);
    if (room.IsNull())
        return;
    // The room stays private, and in_room waits for the server's leave reply.
    room.Disconnect(ServerTypes::isMember);
    room.Disconnect(ServerTypes::isOperator);
    room.Disconnect(ServerTypes::isOwner);
}

void Server::OnPrivateRoomAddEnabled(MemStream& body)
{
    const bool enabled = ReadUInt8(body) != 0;
    Settings::Set(ServerSettings::acceptPrivateRoomAdd, enabled ? "yes" : "no");
    emit PrivateRoomAddEnabled(enabled);
}

void Server::OnRoomOperatorAdded(MemStream& body)
{
    AddRoomUser(body, ServerTypes::roomOperators);
}

void Server::OnRoomOperatorRemoved(MemStream& body)
{
    RemoveRoomUser(body, ServerTypes::roomOperators);
}

void Server::OnRoomOperatorshipAdded(MemStream& body)
{
    QString name;
    if (ReadName(body, name, "room"))
        Room(name).NewItem(ServerTypes::isOperator);
}

void Server::OnRoomOperatorshipRemoved(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "room"))
        return;
    ItemPtr room = KnownRoom(name);
    if (!room.IsNull())
        room.Disconnect(ServerTypes::isOperator);
}

void Server::OnRoomOperators(MemStream& body)
{
    ReplaceRoomUsers(body, ServerTypes::roomOperators);
}
