#include "Server.h"

#include <set>

#include "Data.h"
#include "GeneralFunctions.h"
#include "MessageCode.h"
#include "MessageFields.h"
#include "ServerStore.h"
#include "ServerTypes.h"
#include "Settings.h"

using MessageFields::Read;
using MessageFields::ReadName;
using MessageFields::ReadUInt8;
using ServerStore::SetAttribute;
using ServerStore::User;

namespace {
constexpr qint32 statusAway = 1;

void StampOnlineChange(ItemPtr user)
{
    SetAttribute(user, ServerTypes::lastOnlineStatusChange, CurrentLocalTimeText());
}
} // namespace

void Server::OnLoginReply(MemStream& body)
{
    if (ReadUInt8(body) == 0)
    {
        const QString reason = Read<QString>(body);
        ReportConnectionFailure(reason);
        return;
    }
    // The client has no use for the three fields before the supporter flag.
    Read<QString>(body);
    Read<quint32>(body);
    Read<QString>(body);
    if (ReadUInt8(body) != 0)
        Settings::Set(ServerSettings::isSupporter, "yes");
    else
        Settings::Clear(ServerSettings::isSupporter);

    // Receivers of Connected() do their login work before the follow-up sends its requests.
    connectionState = StateLoggedIn;
    emit Connected();
    OnConnectedToServer();
}

void Server::OnAddUserReply(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "user"))
        return;
    const bool exists = ReadUInt8(body) != 0;
    emit AddUserResponse(name, exists);
    if (!exists)
        return;

    const qint32 status = Read<qint32>(body);
    UserStats ignored;
    body.Read(ignored);
    ItemPtr user = User(name);
    if (status > 0)
    {
        const QString country = Read<QString>(body);
        user.NewItem(ServerTypes::isOnline);
        SetAttribute(user, ServerTypes::countryCode, country);
    }
    else
    {
        user.Disconnect(ServerTypes::isOnline);
    }
    // Stamped even when the mark did not change: the reply is a fresh sighting.
    StampOnlineChange(user);
}

void Server::OnUserStatus(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "user"))
        return;
    const qint32 status = Read<qint32>(body);
    const bool privileged = ReadUInt8(body) != 0;

    ItemPtr user = User(name);
    const bool wasOnline = user.IsConnected(ServerTypes::isOnline);
    if (status <= 0 && wasOnline)
    {
        user.Disconnect(ServerTypes::isOnline);
        StampOnlineChange(user);
    }
    else if (status > 0 && !wasOnline)
    {
        user.NewItem(ServerTypes::isOnline);
        StampOnlineChange(user);
    }

    if (status == statusAway)
        user.NewItem(ServerTypes::isAway);
    else
        user.Disconnect(ServerTypes::isAway);
    // The status never says a user lost privileges; only the privileged list is trusted.
    if (privileged)
        user.NewItem(ServerTypes::isPrivileged);
}

void Server::OnPrivateMessage(MemStream& body)
{
    qint32 id = 0;
    const bool hasId = body.Read(id);
    const qint32 time = Read<qint32>(body);
    QString name;
    if (!ReadName(body, name, "sender"))
    {
        // Acknowledged all the same when it can be: the server would keep a message we can
        // never show and send it again at every login.
        if (hasId)
            Send(SM_MESSAGE_ACKED, id);
        return;
    }
    const QString text = Read<QString>(body);
    const bool spontaneous = ReadUInt8(body) != 0;

    // Looking a stranger up must not add them to the store.
    ItemPtr sender = ServerStore::KnownUser(name);
    if (sender.IsNull() || !sender.IsConnected(ServerTypes::isIgnored))
        emit PrivateChat(name, text, static_cast<time_t>(time), spontaneous);
    // Acknowledged even when ignored, so that the server stops holding it for us.
    Send(SM_MESSAGE_ACKED, id);

    // A message about privileges (a gift, say) may mean our balance changed.
    if (text.contains(QLatin1String("privileges"), Qt::CaseSensitive))
        GetOwnPrivilegesStatus();
}

void Server::OnUserStats(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "user"))
        return;
    UserStats stats;
    body.Read(stats);

    ItemPtr user = User(name);
    SetAttribute(user, ServerTypes::averageDownloadSpeed, stats.m_averageSpeed);
    SetAttribute(user, ServerTypes::sharedFileCount, stats.m_sharedFileCount);
    emit ReceivedUserStats(name, stats);
}

void Server::OnAdminMessage(MemStream& body)
{
    emit AdminMessage(Read<QString>(body));
}

void Server::OnPrivilegedList(MemStream& body)
{
    std::set<QString> names;
    body.Read(names);
    // Only adds: marks that codes 7 and 18 set stay on users the list leaves out.
    for (const QString& name : names)
        User(name).NewItem(ServerTypes::isPrivileged);
}

void Server::OnOwnPrivileges(MemStream& body)
{
    const qint32 seconds = Read<qint32>(body);
    Settings::Set(ServerSettings::privilegesTimeLeft, seconds);
    // Supporters whose privileges ran out stay supporters.
    if (seconds > 0)
        Settings::Set(ServerSettings::isSupporter, "yes");
    emit ReceivedOwnPrivilegesStatus(seconds);
}
