#include "DNetManager.h"

#include "DNetState.h"
#include "DNetTypes.h"
#include "Data.h"
#include "Log.h"
#include "PathNode.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "Settings.h"
#include "TimerManager.h"
#include "TypeTable.h"

DNetManager* dnetManager = nullptr;

namespace {
constexpr const char* logArea = "Distributed Network";
constexpr const char* uploadSpeed = "upload_speed";

using namespace DNetTypes;
using TypeTable::RelationRow;
using TypeTable::TypeRow;

// All of them live in memory only and are made on lookup.
const TypeRow typeRows[] = {
    {dnetGlobal, PrimacyRoot, false},          {dnetValue, PrimacyLeaf, false},
    {dnetChild, PrimacyRoot, false},           {dnetChildDepth, PrimacyLeaf, false},
    {dnetParentCandidate, PrimacyRoot, false}, {dnetCandidateLevel, PrimacyLeaf, false},
    {dnetCandidateLeader, PrimacyLeaf, false},
};

const RelationRow relationRows[] = {
    {dnetGlobal, dnetValue, One, Many},
    {dnetChild, ServerTypes::user, One, One},
    {dnetChild, dnetChildDepth, One, Many},
    {dnetParentCandidate, ServerTypes::user, One, Many},
    {dnetParentCandidate, dnetCandidateLevel, One, Many},
    {dnetParentCandidate, dnetCandidateLeader, One, Many},
};
} // namespace

DNetManager::DNetManager()
{
    dnetManager = this;
    if (gp_server)
    {
        connect(gp_server, &Server::DNetParentMinSpeed, this, &DNetManager::OnDNetParentMinSpeed);
        connect(gp_server, &Server::DNetParentSpeedConnectionRatio, this,
                &DNetManager::OnDNetParentSpeedConnectionRatio);
        connect(gp_server, &Server::DNetPossibleParents, this, &DNetManager::OnDNetPossibleParents);
        connect(gp_server, &Server::DNetMessage, this, &DNetManager::OnDNetMessage);
        connect(gp_server, &Server::DNetDeliveryReport, this, &DNetManager::OnDNetDeliveryReport);
        connect(gp_server, &Server::DNetReset, this, &DNetManager::OnDNetReset);
    }
    // A later manager of the same run finds its types declared already.
    if (!d.HasType(attemptedDNetConnection))
    {
        d.NewType(attemptedDNetConnection, PrimacyLeaf, true, true);
        d.GetType(ServerTypes::user)
            ->RelateToType(d.GetType(attemptedDNetConnection), Many, One, false);
    }
    if (peerMessenger)
    {
        connect(peerMessenger, &PeerMessenger::DNetConnectionAccepted, this,
                &DNetManager::OnDNetConnectionAccepted);
        connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, this,
                &DNetManager::OnDNetConnectionRequested);
    }
    if (gp_server)
        connect(gp_server, &Server::Connected, this, &DNetManager::OnConnected);
    DeclareTypes();

    auto* speed = new PathNode(ItemPtr(d.GetType(Settings::global)->GetItem(uploadSpeed)));
    new PathNode(speed, Settings::value, PathOnConnect);
    d.AddPathHandler(speed, this, &DNetManager::OnReceivedOwnUploadSpeed);
    if (timerManager)
        connect(&timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &DNetManager::EveryHalfMinute);
}

DNetManager::~DNetManager()
{
    // The links go with the manager; their items must not outlive them.
    for (const char* type : {dnetChild, dnetParentCandidate})
        g(type).Remove();
    DNetState::Clear(DNetKeys::parentSocket);
    const QObjectList owned = children();
    for (QObject* child : owned)
        if (auto* socket = qobject_cast<QTcpSocket*>(child))
        {
            QObject::disconnect(socket, nullptr, this, nullptr);
            delete socket;
        }
    if (dnetManager == this)
        dnetManager = nullptr;
}

void DNetManager::DeclareTypes()
{
    if (d.HasType(dnetGlobal))
        return;
    TypeTable::Declare(d, typeRows, relationRows);
}

void DNetManager::OnDNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& parents)
{
    if (DNetState::Has(DNetKeys::parentUser))
    {
        Log(logArea, 1,
            "Received possible parents list, but already have a parent. Not processing.");
        return;
    }
    Log(logArea, 1, QString("Received possible parents list, %1 entries").arg(parents.size()));
    Type* addresses = d.GetType(PeerTypes::userAddress);
    Type* ports = d.GetType(PeerTypes::userPort);
    ItemPtr mark = d.GetType(attemptedDNetConnection)->GetGlobalNullItem();
    for (const auto& [name, address] : parents)
    {
        ItemPtr user = DNetState::User(name);
        if (user.IsConnected(attemptedDNetConnection))
        {
            Log(logArea, 2,
                QString("Already attempted parent connection to %1, skipping").arg(name));
            continue;
        }
        Log(logArea, 2, QString("Attempting parent connection to %1").arg(name));
        user.Connect(addresses->GetItem(Value(address.first)));
        user.Connect(ports->GetItem(Value(address.second)));
        user.Connect(mark);
        if (peerMessenger)
            peerMessenger->RequestDNetConnection(name);
    }
}

void DNetManager::OnDNetConnectionAccepted(QString user, QTcpSocket* link)
{
    if (!link)
        return;
    TakeOver(link);
    Log(logArea, 1, QString("Parent connection to user %1 accepted").arg(user));
    if (DNetState::Has(DNetKeys::parentUser))
    {
        Log(logArea, 2, "Rejecting, already have parent");
        Dispose(link);
        return;
    }
    Log(logArea, 2, "Adding as possible parent candidate");
    ItemPtr candidate = d.GetType(dnetParentCandidate)->NewItem(Value(link));
    candidate.Connect(DNetState::User(user));
    connect(link, &QTcpSocket::readyRead, this, &DNetManager::OnSocketReadyToRead);
    connect(link, &QTcpSocket::errorOccurred, this, &DNetManager::OnSocketError);
    connect(link, &QTcpSocket::disconnected, this, &DNetManager::OnSocketClosed);
    // Bytes that followed the handshake are already waiting.
    if (link->bytesAvailable() > 0)
        ReadFrames(link, &DNetManager::HandleMessage);
}

void DNetManager::Adopt(QTcpSocket* link, ItemPtr candidate)
{
    const QString user = candidate[ServerTypes::user].AsString();
    DNetState::Set(DNetKeys::parentUser, Value(user));
    DNetState::Set(DNetKeys::parentSocket, Value(link));
    Log(logArea, 1,
        QString("Received first search request from parent candidate %1, adopting as parent.")
            .arg(user));

    ItemPtr level = candidate[dnetCandidateLevel];
    if (!level.IsNull())
    {
        const int value = level.AsInt();
        Log(logArea, 2, QString("Level recorded as %1.").arg(value));
        DNetState::Set(DNetKeys::level, Value(value));
        if (gp_server)
            gp_server->SendDNetLevel(value);
        MemStream message = LevelMessage(value);
        SendMessageToChildren(message);
    }

    const QString leader = candidate[dnetCandidateLeader].AsString();
    Log(logArea, 2, QString("Group leader recorded as %1.").arg(leader));
    DNetState::Set(DNetKeys::groupLeader, Value(leader));
    if (gp_server)
        gp_server->SendDNetGroupLeader(leader);
    MemStream message = GroupLeaderMessage(leader);
    SendMessageToChildren(message);

    for (ItemPtr other : g(dnetParentCandidate))
    {
        QTcpSocket* otherLink = LiveLink(other);
        other.Remove();
        if (otherLink && otherLink != link)
            CutCloseDispose(otherLink);
    }
    if (gp_server)
        gp_server->SendDNetHasParent(true);
}

void DNetManager::OnSocketClosed()
{
    LinkEnded(qobject_cast<QTcpSocket*>(sender()));
}

void DNetManager::OnSocketError(QAbstractSocket::SocketError)
{
    LinkEnded(qobject_cast<QTcpSocket*>(sender()));
}

void DNetManager::LinkEnded(QTcpSocket* link)
{
    if (!link)
        return;
    const Value handle(link);
    if (DNetState::Holds(DNetKeys::parentSocket, handle))
    {
        Log(logArea, 1, "Parent socket closed");
        for (const char* key :
             {DNetKeys::parentUser, DNetKeys::parentSocket, DNetKeys::groupLeader, DNetKeys::level})
            DNetState::Clear(key);
        if (gp_server)
        {
            gp_server->SendDNetHasParent(false);
            gp_server->SendDNetGroupLeader(QString());
            gp_server->SendDNetLevel(-1);
        }
    }
    else if (ItemPtr candidate = d.GetType(dnetParentCandidate)->HasItem(handle))
    {
        Log(logArea, 1, "Parent candidate socket closed");
        candidate.Remove();
    }
    Dispose(link);
}

void DNetManager::EveryHalfMinute()
{
    const QDateTime now = QDateTime::currentDateTime();
    CheckParentSilence(now);
    CheckSurplusChildren(now);
}

void DNetManager::CheckParentSilence(const QDateTime& now)
{
    ItemPtr parent = DNetState::Get(DNetKeys::parentSocket);
    if (parent.IsNull() || parent.AsUInt64() == 0)
        return;
    // A parent adopted before any search of its own cannot exist; a null time counts as silent.
    if (m_lastSearchTime.isValid() && m_lastSearchTime.secsTo(now) <= parentSilenceLimitSeconds)
        return;
    Log(logArea, 1, "More than a minute elapsed without hearing from parent, closing connection.");
    if (QTcpSocket* link = LiveLink(parent))
        Close(link);
}

void DNetManager::OnConnected()
{
    if (!gp_server)
        return;
    gp_server->SendDNetHasParent(DNetState::Has(DNetKeys::parentUser));
    if (DNetState::Has(DNetKeys::groupLeader))
        gp_server->SendDNetGroupLeader(DNetState::Text(DNetKeys::groupLeader));
    if (DNetState::Has(DNetKeys::level))
        gp_server->SendDNetLevel(DNetState::Get(DNetKeys::level).AsInt());
    DetermineCanParent();
}

void DNetManager::OnDNetReset()
{
    Log(logArea, 1, "Received DNet reset request");
}

void DNetManager::OnDNetDeliveryReport(int request)
{
    Log(logArea, 1, QString("Received DNet delivery report request, req %1").arg(request));
}

QTcpSocket* DNetManager::LiveLink(ItemPtr item) const
{
    auto* link = item.AsPointer<QTcpSocket>();
    return links.count(link) != 0 ? link : nullptr;
}

void DNetManager::TakeOver(QTcpSocket* link)
{
    links.insert(link);
    // Owned here from now on, so that a link still open at shutdown goes with the manager.
    link->setParent(this);
}

void DNetManager::Cut(QTcpSocket* link)
{
    QObject::disconnect(link, nullptr, this, nullptr);
}

void DNetManager::Dispose(QTcpSocket* link)
{
    links.erase(link);
    childrenAccepted.erase(link);
    link->deleteLater();
}

void DNetManager::CutCloseDispose(QTcpSocket* link)
{
    Cut(link);
    link->close();
    Dispose(link);
}

void DNetManager::Close(QTcpSocket* link)
{
    link->close();
}

MemStream DNetManager::LevelMessage(int level)
{
    MemStream message;
    const unsigned char code = Level;
    message.WriteBuffer(&code, 1);
    message.Write(qint32(level));
    return message;
}

MemStream DNetManager::GroupLeaderMessage(const QString& leader)
{
    MemStream message;
    const unsigned char code = GroupLeader;
    message.WriteBuffer(&code, 1);
    message.Write(leader);
    return message;
}
