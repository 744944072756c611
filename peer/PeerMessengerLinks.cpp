// Reading frames, the first frame of a link in both directions, socket disposal and the flush
// of queued messages.
#include "PeerMessenger.h"

#include <algorithm>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>

#include "Data.h"
#include "Log.h"
#include "ObfuscationCodec.h"
#include "PeerFrame.h"
#include "PeerMessageCode.h"
#include "PeerSocket.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerStore.h"
#include "Settings.h"

using namespace PeerTypes;
using ServerStore::User;

namespace {
constexpr const char* logArea = "Peer Messenger";
// A long body refreshes its link's activity clock once per this many bytes.
constexpr int activityStep = 102400;

QString Prefix(bool obfuscated)
{
    return obfuscated ? "obfuscated " : "";
}

QString Now()
{
    return QDateTime::currentDateTime().toString(Qt::TextDate);
}

ItemPtr SocketItem(const char* type, QTcpSocket* socket)
{
    return d.GetType(type)->HasItem(Value(socket));
}

std::uint32_t ReadLittleEndian(const char* bytes)
{
    std::uint32_t value = 0;
    for (int index = 3; index >= 0; --index)
        value = (value << 8) | static_cast<unsigned char>(bytes[index]);
    return value;
}
} // namespace

bool PeerMessenger::SendMessage(QTcpSocket* socket, MemStream& body, bool obfuscated)
{
    const char* data = body.GetWrittenData();
    const int length = body.GetWrittenLength();
    const QByteArray frame = obfuscated
                                 ? PeerFrame::EncodeObfuscated(data, length, PeerFrame::NewKey())
                                 : PeerFrame::Encode(data, length);
    if (socket->write(frame) == -1)
    {
        Log(logArea, 1, QString("Error writing message to socket: %1").arg(socket->errorString()));
        return false;
    }
    WriteState& written = m_writeStates[socket];
    written.queued += frame.size();
    if (length >= 4 && ReadLittleEndian(data) == PeerMessageCode::PM_SHARED_FILE_LIST)
        written.shareListEnd = written.queued;
    if (socket->bytesToWrite() <= PeerFrame::MaxBytesWaiting)
        return true;
    Log(logArea, 1, "Too much waiting to be sent on a link, dropping it");
    AbortLink(socket);
    return false;
}

void PeerMessenger::AbortLink(QTcpSocket* socket)
{
    // Aborted, not closed: a close keeps the unsent bytes, and the link, until the peer reads.
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    DisposeOfSocket(socket);
}

void PeerMessenger::WaitForRequestNumber(QTcpSocket* socket, const QString& user)
{
    SocketBufferInfo& state = m_socketBuffers[socket];
    state.m_rawTokenNext = true;
    state.m_user = user;
    state.m_rawTokenSince = QDateTime::currentDateTime();
}

bool PeerMessenger::IsShareListUnsent(QTcpSocket* socket) const
{
    const auto found = m_writeStates.find(socket);
    return found != m_writeStates.end() &&
           found->second.queued - socket->bytesToWrite() < found->second.shareListEnd;
}

void PeerMessenger::OnSocketReadyToRead()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(socket);
}

void PeerMessenger::ReadFrames(QTcpSocket* socket)
{
    // What waits unread stays in the system's buffers, so a peer that sends faster than its
    // messages are handled is slowed down instead of filling our memory.
    if (socket->readBufferSize() != PeerFrame::MaxBytesWaiting)
        socket->setReadBufferSize(PeerFrame::MaxBytesWaiting);
    QElapsedTimer spent;
    spent.start();
    auto found = m_socketBuffers.find(socket);
    if (found == m_socketBuffers.end())
    {
        SocketBufferInfo state;
        ItemPtr item = SocketItem(uninitializedSocket, socket);
        if (item.IsNull())
            item = SocketItem(peerSocket, socket);
        state.m_obfuscated = item.IsConnected(isObfuscated);
        found = m_socketBuffers.emplace(socket, std::move(state)).first;
    }

    // Only what is there now: later bytes wait for the next signal.
    qint64 available = socket->bytesAvailable();
    while (available > 0)
    {
        SocketBufferInfo& state = found->second;
        if (state.m_rawTokenNext)
        {
            char bytes[4];
            if (available < 4 || socket->read(bytes, 4) != 4)
                return;
            const QString user = state.m_user;
            ReleaseSocket(socket);
            m_socketBuffers.erase(found);
            emit FileConnectionRequested(user, socket, ReadLittleEndian(bytes));
            return;
        }
        if (!state.m_lengthRead)
        {
            const int headerSize =
                state.m_obfuscated ? PeerFrame::ObfuscatedHeaderSize : PeerFrame::PlainHeaderSize;
            char bytes[PeerFrame::ObfuscatedHeaderSize];
            if (available < headerSize || socket->read(bytes, headerSize) != headerSize)
                return;
            PeerFrame::Header header;
            if (PeerFrame::ReadHeader(bytes, headerSize, state.m_obfuscated, header) !=
                PeerFrame::Verdict::Whole)
            {
                DisposeOfSocket(socket);
                return;
            }
            state.m_frameLength = header.bodyLength;
            state.m_key = header.bodyKey;
            state.m_lengthRead = true;
            available -= headerSize;
            continue;
        }

        MemStream& buffer = state.m_buffer;
        const int held = buffer.GetWrittenLength();
        const int frameLength = static_cast<int>(state.m_frameLength);
        const qint64 wanted = std::min<qint64>(frameLength - held, available);
        if (wanted > 0)
        {
            qint64 read = 0;
            if (held == 0 && wanted == frameLength)
            {
                buffer.EnsureBufferCapacity(frameLength);
                read = socket->read(buffer.GetWriteBuffer(), wanted);
                if (read <= 0)
                    return;
                buffer.AdvanceWriteIndex(static_cast<int>(read));
            }
            else
            {
                // A frame still arriving grows the buffer by what came, not by what its length
                // claims: a peer cannot make each link hold the largest frame for a few bytes.
                const QByteArray part = socket->read(wanted);
                if (part.isEmpty())
                    return;
                buffer.WriteBuffer(part.constData(), static_cast<unsigned long>(part.size()));
                read = part.size();
            }
            available -= read;
            if (held / activityStep != (held + read) / activityStep)
                if (QDateTime* clock = ActivityClock(SocketItem(peerSocket, socket)))
                    *clock = QDateTime::currentDateTime();
        }
        if (buffer.GetWrittenLength() < frameLength)
            continue;

        // Decoded in place: the buffer is emptied once the frame is handled.
        if (state.m_obfuscated)
            ObfuscationCodec(state.m_key)
                .Apply(const_cast<char*>(buffer.GetWrittenData()), frameLength);
        MemStream body = buffer;
        if (!HandleMessage(socket, body))
        {
            QObject::disconnect(socket, nullptr, nullptr, nullptr);
            DisposeOfSocket(socket);
            return;
        }
        // A receiver of the message may have disposed of the link meanwhile.
        found = m_socketBuffers.find(socket);
        if (found == m_socketBuffers.end())
            return;
        if (found->second.m_handedOff)
        {
            m_socketBuffers.erase(found);
            return;
        }
        found->second.m_lengthRead = false;
        found->second.m_buffer.Reset();
        // A burst of costly requests would hold the window: the rest is read on a later pass,
        // and whatever else waits is served in between.
        if (available > 0 && spent.elapsed() >= readSliceMs)
        {
            QTimer::singleShot(0, socket, [this, socket] {
                if (m_socketBuffers.count(socket) != 0)
                    ReadFrames(socket);
            });
            return;
        }
    }
}

bool PeerMessenger::HandleFirstFrame(QTcpSocket* socket, MemStream& body)
{
    ItemPtr item = SocketItem(uninitializedSocket, socket);
    const bool obfuscated = item.IsConnected(isObfuscated);
    item.Remove();
    const QString prefix = Prefix(obfuscated);
    QString user;
    auto fail = [&] {
        Log(logArea, 1,
            QString("Failure initializing %1peer connection, disposing of socket").arg(prefix),
            user.isEmpty() ? ItemPtr() : User(user));
        return false;
    };

    unsigned char direction = 0;
    if (!body.ReadBuffer(&direction, 1))
    {
        Log(logArea, 1, QString("Failed to read direction from new %1peer connection").arg(prefix));
        return fail();
    }
    if (direction == 0)
        return HandleRelayAnswer(socket, body, obfuscated) || fail();

    QString type;
    std::uint32_t unused = 0;
    if (!body.Read(user) || !body.Read(type) || !body.Read(unused))
        return fail();
    ItemPtr userItem = User(user);
    SocketBufferInfo& state = m_socketBuffers[socket];
    const bool known = type == "P" || type == "F" || type == "D";
    if (type == "P")
    {
        Log(logArea, 1, QString("Accepted %1messaging connection to user %2").arg(prefix, user),
            userItem);
        OpenMessagingLink(socket, user, obfuscated);
    }
    else if (type == "F")
    {
        Log(logArea, 1, QString("Accepted %1file connection to user %2").arg(prefix, user),
            userItem);
        WaitForRequestNumber(socket, user);
    }
    else if (type == "D")
    {
        Log(logArea, 1, QString("Accepted %1DNet connection to user %2").arg(prefix, user),
            userItem);
        state.m_handedOff = true;
        ReleaseSocket(socket);
        emit DNetConnectionRequested(user, socket);
    }
    Log(logArea, 1,
        QString("Peer %1connection of type %2 opened from user %3").arg(prefix, type, user),
        userItem);
    return known || fail();
}

bool PeerMessenger::HandleRelayAnswer(QTcpSocket* socket, MemStream& body, bool obfuscated)
{
    const QString prefix = Prefix(obfuscated);
    std::uint32_t token = 0;
    if (!body.Read(token))
    {
        Log(logArea, 1, QString("Failed to read req from %1indirect peer connection").arg(prefix));
        return false;
    }
    ItemPtr indirect = d.GetType(indirectConnectToPeerRequest)->HasItem(Value(token));
    if (indirect.IsNull())
    {
        Log(logArea, 1, QString("Req sent on %1indirect peer connection not found").arg(prefix));
        return false;
    }
    const QString user = indirect[ServerTypes::user].AsString();
    const QString type = indirect[peerConnectionType].AsString();
    ItemPtr request = indirect[connectToPeerRequest];
    indirect.Remove();
    if (!request.IsNull())
        DisposeOfPeerConnectionRequest(request);
    Log(logArea, 1,
        QString("Found req, accepted %1indirect connection to user %2, connection type %3")
            .arg(prefix, user, type),
        User(user));
    if (type == "P")
    {
        OpenMessagingLink(socket, user, obfuscated);
        return true;
    }
    if (type != "F" && type != "D")
        return false;
    m_socketBuffers[socket].m_handedOff = true;
    ReleaseSocket(socket);
    if (type == "F")
        emit FileConnectionAccepted(user, socket);
    else
        emit DNetConnectionAccepted(user, socket);
    return true;
}

void PeerMessenger::OpenMessagingLink(QTcpSocket* socket, const QString& user, bool obfuscated)
{
    ItemPtr link = d.GetType(peerSocket)->NewItem(Value(socket));
    link.Connect(User(user));
    link.Connect(d.GetType(connectionOpenTime)->GetItem(Now()));
    if (obfuscated)
        link.Connect(d.GetType(isObfuscated)->GetGlobalNullItem());
    // The user is known now: a link came up.
    queueOnlyUsers.erase(user);
    SendUnsentMessages(user);
}

void PeerMessenger::ReleaseSocket(QTcpSocket* socket)
{
    m_writeStates.erase(socket);
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    // An accepted socket is a child of its listening server; the new owner alone ends it.
    socket->setParent(nullptr);
}

void PeerMessenger::SendInit(QTcpSocket* socket, const QString& type, bool obfuscated)
{
    MemStream init;
    const unsigned char direction = 1;
    init.WriteBuffer(&direction, 1);
    init.Write(Settings::GetText(PeerSettings::username));
    init.Write(type);
    init.Write(std::uint32_t(0));
    SendMessage(socket, init, obfuscated);
}

void PeerMessenger::OnPeerConnectionRequest(ItemPtr request)
{
    if (!request[peerConnectionRequestSocket].IsNull())
        return;
    ItemPtr user = request[ServerTypes::user];
    bool obfuscated = false;
    const int port = GetUserPort(user, obfuscated);
    if (obfuscated)
        request.Connect(d.GetType(isObfuscated)->GetGlobalNullItem());

    auto* socket = new PeerSocket;
    connect(socket, &QTcpSocket::connected, this,
            &PeerMessenger::OnIndirectResponseSocketConnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(socket, &QTcpSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
    ItemPtr socketItem = d.GetType(peerConnectionRequestSocket)->NewItem(Value(socket));
    request.Connect(socketItem);
    socketItem.Connect(d.GetType(socketCreationTime)->GetItem(Now()));
    // The items exist before dialling, so that even an immediate error finds them.
    socket->connectToHost(QHostAddress(user[userAddress].AsUInt()), static_cast<quint16>(port),
                          QIODevice::ReadWrite);
    Log(logArea, 1,
        QString("Indirect %1peer connection requested from user %2")
            .arg(Prefix(obfuscated), user.AsString()),
        user);
}

void PeerMessenger::OnIndirectResponseSocketConnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr socketItem = SocketItem(peerConnectionRequestSocket, socket);
    ItemPtr request = socketItem[peerConnectionRequest];
    if (request.IsNull())
    {
        DisposeOfSocket(socket);
        return;
    }
    const bool obfuscated = request.IsConnected(isObfuscated);
    MemStream answer;
    const unsigned char direction = 0;
    answer.WriteBuffer(&direction, 1);
    answer.Write(std::uint32_t(request[peerConnectionRequestId].AsUInt()));
    SendMessage(socket, answer, obfuscated);

    socketItem.Remove();
    const QString user = request[ServerTypes::user].AsString();
    const QString type = request[peerConnectionType].AsString();
    Log(logArea, 1,
        QString("Response %1connection to indirect request from %2, type %3 opened")
            .arg(Prefix(obfuscated), user, type),
        User(user));
    request.Remove();
    if (type == "P")
    {
        connect(socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        OpenMessagingLink(socket, user, obfuscated);
    }
    else if (type == "F")
    {
        connect(socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        WaitForRequestNumber(socket, user);
    }
    else if (type == "D")
    {
        // Cut first, so that the link's end reaches its new owner alone.
        ReleaseSocket(socket);
        emit DNetConnectionRequested(user, socket);
    }
}

void PeerMessenger::OnConnectToPeerSocketConnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr item = SocketItem(connectToPeerRequestSocket, socket);
    if (item.IsNull())
    {
        QObject::disconnect(socket, nullptr, this, nullptr);
        socket->close();
        socket->deleteLater();
        return;
    }
    const bool obfuscated = item.IsConnected(isObfuscated);
    const QString user = item[ServerTypes::user].AsString();
    const QString type = item[peerConnectionType].AsString();
    Log(logArea, 1,
        QString("Direct %1connection of type %2 to user %3 successful")
            .arg(Prefix(obfuscated), type, user),
        User(user));
    SendInit(socket, type, obfuscated);
    QObject::disconnect(socket, nullptr, this, nullptr);

    ItemPtr request = item[connectToPeerRequest];
    item.Remove();
    if (!request.IsNull())
        DisposeOfPeerConnectionRequest(request);
    if (type == "P")
    {
        connect(socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        connect(socket, &QTcpSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
        connect(socket, &QTcpSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
        OpenMessagingLink(socket, user, obfuscated);
    }
    else if (type == "F")
    {
        ReleaseSocket(socket);
        emit FileConnectionAccepted(user, socket);
    }
    else if (type == "D")
    {
        ReleaseSocket(socket);
        emit DNetConnectionAccepted(user, socket);
    }
    else
    {
        socket->close();
        socket->deleteLater();
    }
}

void PeerMessenger::OnSocketClosed()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        DisposeOfSocket(socket);
}

void PeerMessenger::OnSocketError(QAbstractSocket::SocketError)
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        DisposeOfSocket(socket);
}

void PeerMessenger::DisposeOfSocket(QTcpSocket* socket)
{
    if (g_peerMessengerDeleted)
        return;
    DisposeOfSocketInner(socket);
    PeerSocket::RemoveSocketItems(socket);
}

void PeerMessenger::DisposeOfSocketInner(QTcpSocket* socket)
{
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->close();
    socket->deleteLater();
    // A state left behind would be taken up by a later socket at the same address.
    m_socketBuffers.erase(socket);
    m_writeStates.erase(socket);
    Log(logArea, 1, "Disposing of socket");

    if (ItemPtr item = SocketItem(peerConnectionRequestSocket, socket))
    {
        Log(logArea, 2, "Identified as peer connection request socket");
        ItemPtr request = item[peerConnectionRequest];
        if (request.IsNull())
        {
            Log(logArea, 2, "Request not found");
            return;
        }
        Log(logArea, 2, "Request found, removing");
        if (gp_server)
            gp_server->SendCantConnectToPeer(request[peerConnectionRequestId].AsUInt(),
                                             request[ServerTypes::user].AsString());
        request.Remove();
        item.Remove();
        return;
    }
    if (ItemPtr item = SocketItem(uninitializedSocket, socket))
    {
        Log(logArea, 2, "Identified as uninitialized socket");
        item.Remove();
    }
    else if (ItemPtr link = SocketItem(peerSocket, socket))
    {
        Log(logArea, 2, "Identified as peer socket");
        link.Remove();
    }
    else
        Log(logArea, 2, "Socket not identified");
}

void PeerMessenger::DisposeOfPeerConnectionRequest(ItemPtr request)
{
    ItemPtr user = request[ServerTypes::user];
    Log(logArea, 1,
        QString("Disposing of peer connection request of type %1 to user %2")
            .arg(request[peerConnectionType].AsString(), user.AsString()),
        user);
    // Both messaging links of a crossing are kept and read: the peer may already have written
    // its queued messages on the one that came second, and refusing that link loses them.
    if (request[peerConnectionType].AsString() == "P")
    {
        request.Remove();
        return;
    }
    // For file and distributed links the first wins: a second one would hand a link to its owner
    // twice, so the attempt still running is given up.
    if (ItemPtr indirect = request[indirectConnectToPeerRequest])
        indirect.Remove();
    if (ItemPtr direct = request[connectToPeerRequestSocket])
    {
        auto* socket = direct.AsPointer<QTcpSocket>();
        direct.Remove();
        QObject::disconnect(socket, nullptr, this, nullptr);
        socket->close();
        socket->deleteLater();
    }
    request.Remove();
}

void PeerMessenger::SendUnsentMessages(const QString& user)
{
    ItemPtr userItem = User(user);
    ItemPtr link = userItem.GetItems(peerSocket);
    if (link.IsNull())
        return;
    ItemSet messages = userItem.GetItems(unsentMessage);
    if (messages.Empty())
        return;
    auto* socket = link.AsPointer<QTcpSocket>();
    const bool obfuscated = link.IsConnected(isObfuscated);
    Log(logArea, 1,
        QString("Sending %1 pending peer messages to user %2").arg(messages.Size()).arg(user),
        userItem);
    for (ItemPtr message : messages.SortNumericBy(sendOrder, true))
    {
        if (!SendMessage(socket, *message.AsPointer<MemStream>(), obfuscated))
            return;
        DropUnsentMessage(message);
    }
}
