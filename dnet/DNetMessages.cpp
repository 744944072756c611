#include "DNetManager.h"

#include <climits>
#include <vector>

#include <QElapsedTimer>
#include <QTimer>

#include "DNetState.h"
#include "DNetTypes.h"
#include "Data.h"
#include "Log.h"
#include "PeerFrame.h"
#include "Server.h"
#include "ServerTypes.h"

namespace {
constexpr const char* logArea = "Distributed Network";

std::uint32_t LittleEndian32(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

// The level one hop below the sender's; anything below 0 means no level.
int LevelBelow(qint32 level)
{
    return level < 0 ? -1 : level + 1;
}
} // namespace

void DNetManager::OnSocketReadyToRead()
{
    if (auto* link = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(link, &DNetManager::HandleMessage);
}

void DNetManager::OnChildSocketReadyToRead()
{
    if (auto* link = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(link, &DNetManager::HandleChildMessage);
}

void DNetManager::ReadFrames(QTcpSocket* link, Handler handler)
{
    // A whole frame must fit; what waits beyond stays in the system's buffers and slows the
    // sender instead of filling our memory.
    if (link->readBufferSize() != PeerFrame::MaxBytesWaiting)
        link->setReadBufferSize(PeerFrame::MaxBytesWaiting);
    QElapsedTimer spent;
    spent.start();
    // A handler may end the link; its bytes are then no longer ours to read.
    while (links.count(link) != 0 && link->bytesAvailable() >= 4)
    {
        // A burst of searches would hold the window: the rest waits for a later pass.
        if (spent.elapsed() >= readSliceMs)
        {
            QTimer::singleShot(0, link, [this, link, handler] {
                if (links.count(link) != 0)
                    ReadFrames(link, handler);
            });
            return;
        }
        unsigned char header[4];
        if (link->peek(reinterpret_cast<char*>(header), 4) != 4)
            return;
        const std::uint32_t length = LittleEndian32(header);
        if (length > maxFrameLength)
        {
            Log(logArea, 1,
                QString("Frame of %1 bytes is longer than allowed, closing connection")
                    .arg(length));
            Close(link);
            return;
        }
        if (link->bytesAvailable() < 4 + qint64(length))
            return;
        link->skip(4);
        m_receiveStream.Reset();
        m_receiveStream.EnsureBufferCapacity(int(length));
        if (link->read(m_receiveStream.GetWriteBuffer(), length) != qint64(length))
            return;
        m_receiveStream.AdvanceWriteIndex(int(length));
        (this->*handler)(link, m_receiveStream);
    }
}

void DNetManager::OnDNetMessage(MemStream& message)
{
    HandleMessage(nullptr, message);
}

void DNetManager::HandleMessage(QTcpSocket* link, MemStream& message)
{
    // What is relayed is the message as it came, from its code on.
    const char* start = message.GetReadBuffer();
    const int length = message.GetPendingReadLength();
    unsigned char code = 0;
    if (!message.ReadBuffer(&code, 1))
    {
        Log(logArea, 1, "Error reading message code, closing parent/candidate connection");
        if (link)
            Close(link);
        return;
    }
    bool candidate = false;
    if (link)
    {
        const Value handle(link);
        bool known = false;
        if (DNetState::Has(DNetKeys::parentUser))
            known = DNetState::Holds(DNetKeys::parentSocket, handle);
        else
            known = candidate =
                d.GetType(DNetTypes::dnetParentCandidate)->HasItem(handle) != nullptr;
        if (!known)
        {
            CutCloseDispose(link);
            return;
        }
    }
    switch (code)
    {
    case SearchRequest:
        OnSearchRequest(link, candidate, message, start, length);
        break;
    case Level:
        OnLevel(link, candidate, message);
        break;
    case GroupLeader:
        OnGroupLeader(link, candidate, message, start, length);
        break;
    default:
        break;
    }
}

void DNetManager::OnSearchRequest(QTcpSocket* link, bool candidate, MemStream& message,
                                  const char* start, int length)
{
    std::uint32_t innerCode = 0;
    if (!message.Read(innerCode))
    {
        if (link)
            Close(link);
        return;
    }
    if (innerCode != fileSearchInnerCode)
    {
        SendMessageToChildren(start, length);
        return;
    }
    QString user;
    std::uint32_t token = 0;
    QString query;
    if (!message.Read(user) || !message.Read(token) || !message.Read(query))
    {
        if (link)
            Close(link);
        return;
    }
    emit DNetSearchRequest(user, token, query);
    m_lastSearchTime = QDateTime::currentDateTime();
    if (candidate)
        if (ItemPtr item = d.GetType(DNetTypes::dnetParentCandidate)->HasItem(Value(link)))
            Adopt(link, item);
    SendMessageToChildren(start, length);
}

void DNetManager::OnLevel(QTcpSocket* link, bool candidate, MemStream& message)
{
    qint32 sent = 0;
    if (!message.Read(sent))
    {
        if (link)
            Close(link);
        return;
    }
    // No level can be one below the largest: such a message says nothing usable.
    if (sent == INT_MAX)
        return;
    const int level = LevelBelow(sent);
    if (candidate)
    {
        if (level == -1)
            return;
        ItemPtr item = d.GetType(DNetTypes::dnetParentCandidate)->HasItem(Value(link));
        item.Connect(d.GetType(DNetTypes::dnetCandidateLevel)->GetItem(Value(level)));
        return;
    }
    if (!link)
        return;
    const int current =
        DNetState::Has(DNetKeys::level) ? DNetState::Get(DNetKeys::level).AsInt() : -1;
    if (level == current)
        return;
    Log(logArea, 1, QString("Received level from parent, updating to %1").arg(level));
    if (level == -1)
        DNetState::Clear(DNetKeys::level);
    else
        DNetState::Set(DNetKeys::level, Value(level));
    if (gp_server)
        gp_server->SendDNetLevel(level);
    MemStream relayed = LevelMessage(level);
    SendMessageToChildren(relayed);
}

void DNetManager::OnGroupLeader(QTcpSocket* link, bool candidate, MemStream& message,
                                const char* start, int length)
{
    QString leader;
    if (!message.Read(leader))
    {
        if (link)
            Close(link);
        return;
    }
    if (candidate)
    {
        ItemPtr item = d.GetType(DNetTypes::dnetParentCandidate)->HasItem(Value(link));
        item.Connect(d.GetType(DNetTypes::dnetCandidateLeader)->GetItem(Value(leader)));
        return;
    }
    if (!link || leader == DNetState::Text(DNetKeys::groupLeader))
        return;
    Log(logArea, 1, QString("Received group leader from parent, updating to %1").arg(leader));
    DNetState::Set(DNetKeys::groupLeader, Value(leader));
    if (gp_server)
        gp_server->SendDNetGroupLeader(leader);
    SendMessageToChildren(start, length);
}

void DNetManager::SendMessageToChildren(MemStream& message)
{
    SendMessageToChildren(message.GetReadBuffer(), message.GetPendingReadLength());
}

void DNetManager::SendMessageToChildren(const char* message, int length)
{
    const std::uint32_t size = std::uint32_t(length);
    const char header[4] = {char(size), char(size >> 8), char(size >> 16), char(size >> 24)};
    std::vector<QTcpSocket*> stalled;
    for (ItemPtr child : g(DNetTypes::dnetChild))
    {
        QTcpSocket* link = LiveLink(child);
        if (!link)
            continue;
        link->write(header, 4);
        link->write(message, length);
        if (link->bytesToWrite() > PeerFrame::MaxBytesWaiting)
            stalled.push_back(link);
    }
    // Every search goes to every child: one that stops reading would hold them all.
    for (QTcpSocket* link : stalled)
    {
        Log(logArea, 1, "Child is not reading, closing child connection");
        AbortChild(link);
    }
}

void DNetManager::SendFrame(QTcpSocket* link, const MemStream& message)
{
    const std::uint32_t size = std::uint32_t(message.GetPendingReadLength());
    const char header[4] = {char(size), char(size >> 8), char(size >> 16), char(size >> 24)};
    link->write(header, 4);
    link->write(message.GetReadBuffer(), message.GetPendingReadLength());
}
