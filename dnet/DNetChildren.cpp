#include "DNetManager.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "DNetState.h"
#include "DNetTypes.h"
#include "Data.h"
#include "Log.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"

namespace {
constexpr const char* logArea = "Distributed Network";
constexpr const char* uploadSpeed = "upload_speed";
} // namespace

void DNetManager::OnDNetConnectionRequested(QString user, QTcpSocket* link)
{
    if (!link)
        return;
    TakeOver(link);
    Log(logArea, 1, QString("Child connection accepted from %1").arg(user));
    ItemPtr userItem = DNetState::User(user);
    ItemPtr old = userItem[DNetTypes::dnetChild];
    if (!old.IsNull())
    {
        Log(logArea, 2, "Child connection already found, closing old connection.");
        QTcpSocket* oldLink = LiveLink(old);
        old.Remove();
        if (oldLink)
            CutCloseDispose(oldLink);
    }
    ItemPtr child = d.GetType(DNetTypes::dnetChild)->GetItem(Value(link));
    child.Connect(userItem);
    childrenAccepted[link] = {++acceptedChildCount, QDateTime::currentDateTime()};
    connect(link, &QTcpSocket::readyRead, this, &DNetManager::OnChildSocketReadyToRead);
    connect(link, &QTcpSocket::errorOccurred, this, &DNetManager::OnChildSocketError);
    connect(link, &QTcpSocket::disconnected, this, &DNetManager::OnChildSocketClosed);
    if (DNetState::Has(DNetKeys::level))
        SendFrame(link, LevelMessage(DNetState::Get(DNetKeys::level).AsInt()));
    if (DNetState::Has(DNetKeys::groupLeader))
        SendFrame(link, GroupLeaderMessage(DNetState::Text(DNetKeys::groupLeader)));
    // Bytes that followed the handshake are already waiting.
    if (link->bytesAvailable() > 0)
        ReadFrames(link, &DNetManager::HandleChildMessage);
}

void DNetManager::HandleChildMessage(QTcpSocket* link, MemStream& message)
{
    unsigned char code = 0;
    if (!message.ReadBuffer(&code, 1))
    {
        Log(logArea, 1, "Error reading message code, closing child connection");
        Close(link);
        return;
    }
    ItemPtr child = d.GetType(DNetTypes::dnetChild)->HasItem(Value(link));
    if (child.IsNull())
    {
        CutCloseDispose(link);
        return;
    }
    Log(logArea, 1, QString("Received message from child, code %1").arg(code));
    if (code != ChildDepth)
        return;
    qint32 depth = 0;
    if (!message.Read(depth))
    {
        Close(link);
        return;
    }
    Log(logArea, 1,
        QString("Received child depth %1 from %2")
            .arg(depth)
            .arg(child[ServerTypes::user].AsString()));
    child.Connect(d.GetType(DNetTypes::dnetChildDepth)->GetItem(Value(depth)));
    DetermineChildDepth();
}

void DNetManager::DetermineChildDepth()
{
    const qint64 current =
        DNetState::Has(DNetKeys::childDepth) ? DNetState::Get(DNetKeys::childDepth).AsInt64() : 0;
    // In 64 bits, so that a child's largest depth does not wrap.
    qint64 depth = 0;
    for (ItemPtr child : g(DNetTypes::dnetChild))
    {
        ItemPtr reported = child[DNetTypes::dnetChildDepth];
        if (!reported.IsNull())
            depth = std::max(depth, qint64(reported.AsInt()) + 1);
    }
    if (depth == current)
        return;
    Log(logArea, 1, QString("New child depth is %1").arg(depth));
    if (depth != 0)
        DNetState::Set(DNetKeys::childDepth, Value(static_cast<long long>(depth)));
    else
        DNetState::Clear(DNetKeys::childDepth);
    if (gp_server)
        gp_server->SendChildDepth(depth != 0);
}

void DNetManager::OnChildSocketClosed()
{
    ChildLinkEnded(qobject_cast<QTcpSocket*>(sender()));
}

void DNetManager::OnChildSocketError(QAbstractSocket::SocketError)
{
    ChildLinkEnded(qobject_cast<QTcpSocket*>(sender()));
}

void DNetManager::ChildLinkEnded(QTcpSocket* link)
{
    if (!link)
        return;
    Log(logArea, 1, "Child socket closed");
    Cut(link);
    Dispose(link);
    if (ItemPtr child = d.GetType(DNetTypes::dnetChild)->HasItem(Value(link)))
        child.Remove();
    else
        Log(logArea, 2, "Child socket item not found, aborting");
}

void DNetManager::AbortChild(QTcpSocket* link)
{
    Cut(link);
    link->abort();
    ChildLinkEnded(link);
}

void DNetManager::CheckSurplusChildren(const QDateTime& now)
{
    if (childCapacity < 0)
        return;
    std::vector<std::pair<quint64, QTcpSocket*>> byAge;
    for (const auto& [link, accepted] : childrenAccepted)
        byAge.emplace_back(accepted.order, link);
    std::sort(byAge.begin(), byAge.end());
    std::vector<QTcpSocket*> expired;
    for (size_t place = size_t(std::min<qint64>(childCapacity, qint64(byAge.size())));
         place < byAge.size(); ++place)
    {
        QTcpSocket* link = byAge[place].second;
        if (childrenAccepted.at(link).since.msecsTo(now) >= surplusChildLimitMs)
            expired.push_back(link);
    }
    for (QTcpSocket* link : expired)
    {
        Log(logArea, 1, "Child beyond our capacity held too long, closing child connection");
        AbortChild(link);
    }
}

void DNetManager::OnDNetParentMinSpeed(int speed)
{
    Log(logArea, 1, QString("Received parent min speed %1, currently not processing").arg(speed));
    m_parentMinSpeed = speed;
    DetermineCanParent();
}

void DNetManager::OnDNetParentSpeedConnectionRatio(int ratio)
{
    Log(logArea, 1,
        QString("Received parent speed connection ratio %1, currently not processing").arg(ratio));
    m_parentSpeedConnectionRatio = ratio;
    DetermineCanParent();
}

void DNetManager::OnReceivedOwnUploadSpeed(ItemPtr)
{
    DetermineCanParent();
}

void DNetManager::DetermineCanParent()
{
    if (m_parentMinSpeed == -1 || m_parentSpeedConnectionRatio == -1)
        return;
    ItemPtr speedValue = Settings::Get(uploadSpeed);
    if (speedValue.IsNull())
        return;
    // 64-bit arithmetic, with the speed kept where ten times it still fits.
    constexpr qint64 bound = std::numeric_limits<qint64>::max() / 10;
    const qint64 speed = std::clamp(speedValue.AsInt64(), -bound, bound);
    Log(logArea, 1, "Determining whether we can accept child connections.");
    bool status = false;
    childCapacity = 0;
    if (speed < qint64(m_parentMinSpeed) * 1024)
        Log(logArea, 2, "Below minimum parent speed, so no.");
    else if (m_parentSpeedConnectionRatio <= 0)
        Log(logArea, 2, "No usable speed/connection ratio, so no.");
    else
    {
        const qint64 capacity = (speed * 10 / 1024) / m_parentSpeedConnectionRatio;
        const qint64 children = qint64(d.GetType(DNetTypes::dnetChild)->ItemCount());
        Log(logArea, 2,
            QString("Currently have %1 child connections, max capacity %2")
                .arg(children)
                .arg(capacity));
        childCapacity = std::max<qint64>(0, capacity);
        status = capacity > children;
    }
    if (status == m_canParent)
    {
        Log(logArea, 2, "No status change, not notifying.");
        return;
    }
    m_canParent = status;
    Log(logArea, 2, "Status changed, sending notification.");
    if (gp_server)
        gp_server->SendDNetCanParent(status);
}
