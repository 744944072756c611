// Outgoing connection requests, sending to users by name and the half-minute housekeeping.
#include "PeerMessenger.h"

#include <set>
#include <vector>

#include <QHostAddress>

#include "Data.h"
#include "Log.h"
#include "PeerMessageCode.h"
#include "PeerSocket.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerStore.h"
#include "TypeItemsMap.h"

using namespace PeerTypes;
using ServerStore::User;

namespace {
constexpr const char* logArea = "Peer Messenger";

QString Now()
{
    return QDateTime::currentDateTime().toString(Qt::TextDate);
}

// Milliseconds from the stored time to now; -1 for a time that cannot be read or lies ahead,
// which never triggers anything.
qint64 AgeMs(ItemPtr storedTime, const QDateTime& now)
{
    const QDateTime then = QDateTime::fromString(storedTime.AsString(), Qt::TextDate);
    if (!then.isValid())
        return -1;
    return then.msecsTo(now);
}

QString TypeOf(ItemPtr item)
{
    return item[peerConnectionType].AsString();
}
} // namespace

void PeerMessenger::ConnectToUser(const QString& user, const char* type)
{
    ItemPtr userItem = User(user);
    Log(logArea, 1, QString("Attempting peer connection of type %1 to user %2").arg(type, user),
        userItem);
    ItemPtr typeItem = d.GetType(peerConnectionType)->GetItem(type);
    if (!userItem.GetItems(connectToPeerRequest).Connected(typeItem).Empty())
    {
        Log(logArea, 2,
            "Connection attempt to same user of same type already in progress, not re-attempting.",
            userItem);
        return;
    }
    ItemPtr request = d.GetType(connectToPeerRequest)->NewItem();
    request.Connect(userItem);
    request.Connect(typeItem);

    Log(logArea, 2, "Also sending indirect connection request.", userItem);
    const unsigned int token = gp_server ? gp_server->SendIndirectConnectionRequest(user, type) : 0;
    ItemPtr indirect = d.GetType(indirectConnectToPeerRequest)->GetItem(Value(token));
    request.Connect(indirect);
    indirect.Connect(d.GetType(sendTime)->GetItem(Now()));
    indirect.Connect(userItem);
    indirect.Connect(typeItem);

    if (!userItem[userAddress].IsNull())
    {
        DialDirectly(request, userItem, typeItem);
        return;
    }
    Log(logArea, 2, "User address not found, requesting address", userItem);
    if (gp_server)
        gp_server->GetUserAddress(user);
    request.Connect(d.GetType(connectToPeerRequestStatus)->GetItem("getting_address"));
}

void PeerMessenger::RequestFileConnectionToUser(const QString& user)
{
    ConnectToUser(user, "F");
}

void PeerMessenger::RequestDNetConnection(const QString& user)
{
    ConnectToUser(user, "D");
}

int PeerMessenger::GetUserPort(ItemPtr user, bool& obfuscated)
{
    const int obfuscatedPort = user[userObfuscatedPort].AsInt();
    obfuscated = obfuscatedPort != 0;
    return obfuscated ? obfuscatedPort : user[userPort].AsInt();
}

void PeerMessenger::DialDirectly(ItemPtr request, ItemPtr user, ItemPtr type)
{
    bool obfuscated = false;
    const int port = GetUserPort(user, obfuscated);
    auto* socket = new PeerSocket;
    connect(socket, &QTcpSocket::connected, this, &PeerMessenger::OnConnectToPeerSocketConnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &PeerMessenger::OnConnectToPeerSocketError);

    ItemPtr socketItem = d.GetType(connectToPeerRequestSocket)->GetItem(Value(socket));
    socketItem.Connect(d.GetType(socketCreationTime)->GetItem(Now()));
    socketItem.Connect(user);
    socketItem.Connect(type);
    if (obfuscated)
        socketItem.Connect(d.GetType(isObfuscated)->GetGlobalNullItem());
    request.Connect(d.GetType(connectToPeerRequestStatus)->GetItem("connecting"));
    request.Connect(socketItem);
    // The items exist before dialling, so that even an immediate error finds them.
    socket->connectToHost(QHostAddress(user[userAddress].AsUInt()), static_cast<quint16>(port),
                          QIODevice::ReadWrite);
}

void PeerMessenger::OnUserAddress(ItemPtr user)
{
    ItemSet requests = user.GetItems(connectToPeerRequest);
    if (requests.Empty())
        return;
    ItemSet waiting = requests.Connected(connectToPeerRequestStatus, Value("getting_address"));
    Log(logArea, 1, QString("User %1 address arrived").arg(user.AsString()), user);
    for (ItemPtr request : waiting)
    {
        ItemPtr type = request[peerConnectionType];
        Log(logArea, 2, QString("Attempting direct connection of type %1").arg(type.AsString()),
            user);
        DialDirectly(request, user, type);
    }
}

void PeerMessenger::OnConnectToPeerSocketError(QAbstractSocket::SocketError)
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    ItemPtr item = d.GetType(connectToPeerRequestSocket)->HasItem(Value(socket));
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    socket->close();
    socket->deleteLater();
    if (!item.IsNull())
        DropFailedAttempt(item, "Direct");
}

void PeerMessenger::OnIndirectPeerConnectionFailure(uint token)
{
    ItemPtr indirect = d.GetType(indirectConnectToPeerRequest)->HasItem(Value(token));
    if (!indirect.IsNull())
        DropFailedAttempt(indirect, "Indirect");
}

void PeerMessenger::DropFailedAttempt(ItemPtr attempt, const char* kind)
{
    ItemPtr user = attempt[ServerTypes::user];
    Log(logArea, 1,
        QString("%1 connection of type %2 to user %3 failed")
            .arg(kind, TypeOf(attempt), user.AsString()),
        user);
    ItemPtr request = attempt[connectToPeerRequest];
    attempt.Remove();
    if (!request.IsNull())
        InspectPeerConnectionRequest(request);
}

void PeerMessenger::InspectPeerConnectionRequest(ItemPtr request)
{
    ItemPtr user = request[ServerTypes::user];
    const QString type = TypeOf(request);
    Log(logArea, 1,
        QString("Inspecting peer connection request of type %1 to user %2 for possible removal.")
            .arg(type, user.AsString()),
        user);
    if (!request[connectToPeerRequestSocket].IsNull())
    {
        Log(logArea, 2, "Socket found. Not removing request.", user);
        return;
    }
    if (!request[indirectConnectToPeerRequest].IsNull())
    {
        Log(logArea, 2, "Indirect request found. Not removing request.", user);
        return;
    }
    Log(logArea, 2, "Neither socket nor indirect request found. Removing.", user);
    const QString name = user.AsString();
    request.Remove();
    emit ConnectionToUserFailed(name, type);
}

void PeerMessenger::SendMessage(const QString& user, MemStream& message)
{
    ItemPtr userItem = d.GetType(ServerTypes::user)->HasItem(Value(user));
    ItemSet links = userItem.IsNull() ? ItemSet() : userItem.GetItems(peerSocket);
    if (links.Empty() && (int(d.GetType(unsentMessage)->ItemCount()) >= unsentMessagesInAll ||
                          unsentBytes + message.GetWrittenLength() > unsentBytesInAll))
    {
        // Nothing is made for the user: no item, no connection request.
        Log(logArea, 1,
            QString("Too many messages waiting for links, dropping message to %1").arg(user));
        return;
    }
    if (userItem.IsNull())
    {
        userItem = User(user);
        queueOnlyUsers.insert(user);
    }
    int code = 0;
    if (message.GetWrittenLength() >= 4)
    {
        MemStream view;
        view.WriteBuffer(message.GetWrittenData(), 4);
        view.Read(code);
    }
    Log(logArea, 1,
        QString("Send %1 message to user %2").arg(PeerMessageCode::MessageCodeToString(code), user),
        userItem);

    if (links.Empty())
    {
        // Answers to distributed searches queue here, so a peer can make a user's queue grow.
        if (userItem.GetItems(unsentMessage).Size() >= unsentMessagesPerUser)
        {
            Log(logArea, 1, "Too many messages waiting for user, dropping message", userItem);
            return;
        }
        Log(logArea, 2, "Did not find messaging connection to user, queueing unsent message",
            userItem);
        auto* stored = new MemStream(message);
        unsentBytes += stored->GetWrittenLength();
        ItemPtr queued = d.GetType(unsentMessage)->GetItem(Value(stored));
        queued.Connect(userItem);
        queued.Connect(d.GetType(sendOrder)->GetItem(Value(sendOrderCounter++)));
        queued.Connect(d.GetType(sendTime)->GetItem(Now()));
        ConnectToUser(user, "P");
        return;
    }

    ItemPtr chosen;
    if (links.Size() == 1)
    {
        Log(logArea, 2, "Found one existing messaging connection to user", userItem);
        chosen = links;
    }
    else
    {
        Log(logArea, 2,
            QString("Found %1 existing messaging connections to user, picking latest")
                .arg(links.Size()),
            userItem);
        QDateTime chosenTime;
        for (ItemPtr link : links)
        {
            const QDateTime opened =
                QDateTime::fromString(link[connectionOpenTime].AsString(), Qt::TextDate);
            if (chosen.IsNull())
                Log(logArea, 3, QString("First connection opened %1").arg(opened.toString()),
                    userItem);
            else if (opened > chosenTime)
                Log(logArea, 3,
                    QString("Found connection opened %1, exchanging").arg(opened.toString()),
                    userItem);
            else
                continue;
            chosen = link;
            chosenTime = opened;
        }
    }
    SendMessage(chosen.AsPointer<QTcpSocket>(), message, chosen.IsConnected(isObfuscated));
}

void PeerMessenger::EveryHalfMinute()
{
    EveryHalfMinuteAt(QDateTime::currentDateTime());
}

void PeerMessenger::EveryHalfMinuteAt(const QDateTime& now)
{
    // Each pass walks a copy of its set; items removed meanwhile stay readable and are skipped.
    Data::WalkGuard guard(d);
    for (ItemPtr message : g(unsentMessage))
        if (d.IsAlive(message) && AgeMs(message[sendTime], now) >= unsentMessageLimitMs)
            DropUnsentMessage(message);

    for (ItemPtr indirect : g(indirectConnectToPeerRequest))
    {
        if (!d.IsAlive(indirect))
            continue;
        if (AgeMs(indirect[sendTime], now) < connectAttemptLimitMs)
            continue;
        ItemPtr user = indirect[ServerTypes::user];
        Log(logArea, 1,
            QString("Indirect connection request of type %1 to %2 expired, removing.")
                .arg(TypeOf(indirect), user.AsString()),
            user);
        ItemPtr request = indirect[connectToPeerRequest];
        indirect.Remove();
        if (!request.IsNull())
            InspectPeerConnectionRequest(request);
    }

    for (ItemPtr item : g(connectToPeerRequestSocket))
    {
        if (!d.IsAlive(item))
            continue;
        if (AgeMs(item[socketCreationTime], now) < connectAttemptLimitMs)
            continue;
        ItemPtr user = item[ServerTypes::user];
        Log(logArea, 1,
            QString("Direct connection attempt of type %1 to %2 timed out, closing.")
                .arg(TypeOf(item), user.AsString()),
            user);
        ItemPtr request = item[connectToPeerRequest];
        auto* socket = item.AsPointer<QTcpSocket>();
        item.Remove();
        QObject::disconnect(socket, nullptr, this, nullptr);
        socket->close();
        socket->deleteLater();
        if (!request.IsNull())
            InspectPeerConnectionRequest(request);
    }

    for (ItemPtr item : g(peerConnectionRequestSocket))
    {
        if (!d.IsAlive(item))
            continue;
        if (AgeMs(item[socketCreationTime], now) < connectAttemptLimitMs)
            continue;
        ItemPtr request = item[peerConnectionRequest];
        ItemPtr user = request[ServerTypes::user];
        Log(logArea, 1,
            QString("Indirect connection attempt of type %1 to %2 timed out, closing.")
                .arg(TypeOf(request), user.AsString()),
            user);
        // Disposed of here: a socket still dialling may never report its closing.
        DisposeOfSocket(item.AsPointer<QTcpSocket>());
    }

    for (ItemPtr item : g(uninitializedSocket))
        if (d.IsAlive(item) && AgeMs(item[socketCreationTime], now) >= firstFrameLimitMs)
        {
            Log(logArea, 1, "Connection sent no first frame in time, closing.");
            DisposeOfSocket(item.AsPointer<QTcpSocket>());
        }

    std::vector<QTcpSocket*> silentFileLinks;
    for (const auto& [socket, state] : m_socketBuffers)
        if (state.m_rawTokenNext && state.m_rawTokenSince.msecsTo(now) >= firstFrameLimitMs)
            silentFileLinks.push_back(socket);
    for (QTcpSocket* socket : silentFileLinks)
    {
        Log(logArea, 1, "File connection sent no request number in time, closing.");
        AbortLink(socket);
    }

    for (ItemPtr link : g(peerSocket))
    {
        if (!d.IsAlive(link))
            continue;
        QDateTime* clock = ActivityClock(link);
        if (!clock || clock->msecsTo(now) < idleLinkLimitMs)
            continue;
        ItemPtr user = link[ServerTypes::user];
        Log(logArea, 1,
            QString("Peer connection to user %1 expired, closing.").arg(user.AsString()), user);
        // A peer that stopped reading would keep a closing link, and later sends, forever.
        AbortLink(link.AsPointer<QTcpSocket>());
    }
    ForgetQueueOnlyUsers();
}

void PeerMessenger::DropUnsentMessage(ItemPtr message)
{
    auto* stored = message.AsPointer<MemStream>();
    unsentBytes -= stored->GetWrittenLength();
    delete stored;
    message.Remove();
}

void PeerMessenger::ForgetQueueOnlyUsers()
{
    // What a queued message and its connection attempts leave on a user; anything else means
    // that some other part of the program knows the user now.
    static const std::set<QString> leftByQueueing{userAddress, userPort, userObfuscatedPort,
                                                  ServerTypes::userAddressRequest};
    Type* users = d.GetType(ServerTypes::user);
    for (auto name = queueOnlyUsers.begin(); name != queueOnlyUsers.end();)
    {
        ItemPtr user = users->HasItem(Value(*name));
        if (!user.IsNull() && !user.GetItems(unsentMessage).Empty())
        {
            ++name;
            continue;
        }
        name = queueOnlyUsers.erase(name);
        if (user.IsNull())
            continue;
        TypeItemsMap connected;
        user->GetConnectedItems(connected);
        bool onlyQueueing = true;
        for (const TypeItemsMap::Entry& entry : connected)
            onlyQueueing = onlyQueueing && leftByQueueing.count(entry.type->name.c_str()) != 0;
        if (onlyQueueing)
            user.Remove();
    }
}
