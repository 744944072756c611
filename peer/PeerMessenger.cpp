#include "PeerMessenger.h"

#include <cstdlib>
#include <ctime>
#include <set>

#include "Data.h"
#include "DataSaver.h"
#include "Log.h"
#include "PeerTypes.h"
#include "Server.h"
#include "Settings.h"
#include "TimerManager.h"
#include "TypeTable.h"

PeerMessenger* peerMessenger = nullptr;
bool g_peerMessengerDeleted = false;

namespace {
constexpr const char* logArea = "Peer Messenger";
int defaultListeningPort = 2235;
int defaultObfuscatedListeningPort = 2236;

using namespace PeerTypes;
using TypeTable::RelationRow;
using TypeTable::TypeRow;

const TypeRow typeRows[] = {
    {uninitializedSocket, PrimacyRoot, false, false},
    {peerSocket, PrimacyRoot, false, false},
    {connectionOpenTime, PrimacyLeaf, false, true},
    {lastActivityTime, PrimacyRoot, false, true},
    {isObfuscated, PrimacyLeaf, true, true},
    {peerConnectionRequest, PrimacyRoot, true, false},
    {peerConnectionRequestId, PrimacyLeaf, false, true},
    {peerConnectionType, PrimacyLeaf, false, true},
    {peerConnectionRequestSocket, PrimacyRoot, false, false},
    {userAddress, PrimacyLeaf, false, true},
    {userPort, PrimacyLeaf, false, true},
    {userObfuscatedPort, PrimacyLeaf, false, true},
    {socketCreationTime, PrimacyLeaf, false, true},
    {searchRequest, PrimacyRoot, false, false},
    {searchRequestText, PrimacyRoot, false, true},
    {wishlistSearch, PrimacyLeaf, true, true},
    {searchResults, PrimacyRoot, true, true},
    {searchResult, PrimacyIntermediate, true, true},
    {searchResultsUserAvailable, PrimacyLeaf, false, true},
    {searchResultsUserSpeed, PrimacyLeaf, false, true},
    {searchResultsUploadsInQueue, PrimacyLeaf, false, true},
    {searchResultFileName, PrimacyLeaf, false, true},
    {searchResultFileFolder, PrimacyLeaf, false, true},
    {fileSize, PrimacyLeaf, false, true},
    {searchStopped, PrimacyLeaf, true, true},
    {searchCorrelation, PrimacyIntermediate, true, true},
    {correlationText, PrimacyLeaf, false, true},
    {correlationRank, PrimacyLeaf, false, true},
    {mpegVersion, PrimacyLeaf, false, true},
    {channelMode, PrimacyLeaf, false, true},
    {audioFrequency, PrimacyLeaf, false, true},
    {bitrateMode, PrimacyLeaf, false, true},
    {bitrate, PrimacyLeaf, false, true},
    {lengthSeconds, PrimacyLeaf, false, true},
    {unsentMessage, PrimacyRoot, false, true},
    {sendOrder, PrimacyLeaf, false, true},
    {sendTime, PrimacyLeaf, false, true},
    {connectToPeerRequest, PrimacyRoot, true, true},
    {connectToPeerRequestStatus, PrimacyLeaf, false, true},
    {connectToPeerRequestSocket, PrimacyRoot, false, true},
    {indirectConnectToPeerRequest, PrimacyRoot, false, true},
};

const RelationRow relationRows[] = {
    {peerSocket, ServerTypes::user, One, Many, false},
    {peerSocket, connectionOpenTime, One, Many, false},
    {peerSocket, lastActivityTime, One, Many, false},
    {peerSocket, isObfuscated, One, Many, false},
    {uninitializedSocket, isObfuscated, One, Many, false},
    // Accepted sockets that never speak are given up after a while.
    {uninitializedSocket, socketCreationTime, One, Many, false},
    {peerConnectionRequest, peerConnectionRequestId, One, Many, false},
    {peerConnectionRequest, peerConnectionRequestSocket, One, One, false},
    {peerConnectionRequest, ServerTypes::user, One, Many, false},
    {peerConnectionRequest, peerConnectionType, One, Many, false},
    {peerConnectionRequest, isObfuscated, One, Many, false},
    {peerConnectionRequestSocket, socketCreationTime, One, Many, false},
    {ServerTypes::user, userAddress, One, Many, false},
    {ServerTypes::user, userPort, One, Many, false},
    {ServerTypes::user, userObfuscatedPort, One, Many, false},
    {searchRequest, searchRequestText, One, Many, false},
    {searchRequest, wishlistSearch, One, Many, false},
    {searchRequest, searchResults, Many, One, true},
    {searchResults, searchResult, Many, One, true},
    {searchResults, ServerTypes::user, One, Many, false},
    {searchResults, searchResultsUserAvailable, One, Many, false},
    {searchResults, searchResultsUserSpeed, One, Many, false},
    {searchResults, searchResultsUploadsInQueue, One, Many, false},
    {searchResult, searchResultFileName, One, Many, false},
    {searchResult, searchResultFileFolder, One, Many, false},
    {searchResult, fileSize, One, Many, false},
    {searchRequest, searchStopped, One, Many, false},
    {searchRequestText, searchCorrelation, Many, One, false},
    {searchCorrelation, correlationText, One, Many, false},
    {searchCorrelation, correlationRank, One, Many, false},
    {searchResult, bitrateMode, One, Many, false},
    {searchResult, bitrate, One, Many, false},
    {searchResult, lengthSeconds, One, Many, false},
    {unsentMessage, ServerTypes::user, One, Many, false},
    {unsentMessage, sendOrder, One, One, false},
    {unsentMessage, sendTime, One, Many, false},
    {connectToPeerRequest, connectToPeerRequestStatus, One, Many, false},
    {connectToPeerRequest, connectToPeerRequestSocket, One, One, false},
    {connectToPeerRequest, ServerTypes::user, One, Many, false},
    {connectToPeerRequest, peerConnectionType, One, Many, false},
    {connectToPeerRequest, indirectConnectToPeerRequest, One, One, false},
    {connectToPeerRequestSocket, socketCreationTime, One, Many, false},
    {indirectConnectToPeerRequest, sendTime, One, Many, false},
    {connectToPeerRequestSocket, ServerTypes::user, One, Many, false},
    {connectToPeerRequestSocket, peerConnectionType, One, Many, false},
    {connectToPeerRequestSocket, isObfuscated, One, Many, false},
    {indirectConnectToPeerRequest, ServerTypes::user, One, Many, false},
    {indirectConnectToPeerRequest, peerConnectionType, One, Many, false},
};

int SettingAsInt(const char* key)
{
    return Settings::GetText(key).toInt();
}
} // namespace

PeerMessenger::PeerMessenger()
{
    peerMessenger = this;
    g_peerMessengerDeleted = false;
    if (gp_server)
    {
        connect(gp_server, &Server::Connected, this, &PeerMessenger::OnConnectedToServer);
        connect(gp_server, &Server::IndirectPeerConnectionFailure, this,
                &PeerMessenger::OnIndirectPeerConnectionFailure);
    }
    DeclareTypes(d);

    Type* sockets = d.GetType(peerSocket);
    Listen(sockets->itemAdded, this, &PeerMessenger::OnPeerSocketItemAdded);
    Listen(sockets->itemRemoved, this, &PeerMessenger::OnPeerSocketItemRemoved);

    auto* request = new PathNode(&d, peerConnectionRequest);
    new PathNode(request, peerConnectionRequestId, PathRequired);
    new PathNode(request, peerConnectionType, PathRequired);
    auto* requestUser = new PathNode(request, ServerTypes::user, PathRequired);
    for (const char* name : {userAddress, userPort, userObfuscatedPort})
        new PathNode(requestUser, name, PathRequired);
    d.AddPathHandler(request, this, &PeerMessenger::OnPeerConnectionRequest);

    auto* user = new PathNode(&d, ServerTypes::user);
    for (const char* name : {userAddress, userPort, userObfuscatedPort})
        new PathNode(user, name, PathRequired);
    d.AddPathHandler(user, this, &PeerMessenger::OnUserAddress);

    if (timerManager)
        connect(&timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &PeerMessenger::EveryHalfMinute);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    connect(&m_listeningServer, &QTcpServer::newConnection, this, &PeerMessenger::OnNewConnection);
    connect(&m_obfuscatedListeningServer, &QTcpServer::newConnection, this,
            &PeerMessenger::OnNewObfuscatedConnection);
}

PeerMessenger::~PeerMessenger()
{
    // Sockets that close from here on must not reach a half-destroyed messenger.
    g_peerMessengerDeleted = true;
    m_socketBuffers.clear();
    // What the messenger holds on the heap through its items goes with it: queued messages,
    // activity clocks, and the sockets it dialled (accepted ones go with their servers).
    for (ItemPtr message : g(unsentMessage))
    {
        delete message.AsPointer<MemStream>();
        message.Remove();
    }
    std::set<QTcpSocket*> dialled;
    for (const char* type : {peerSocket, connectToPeerRequestSocket, peerConnectionRequestSocket})
        for (ItemPtr item : g(type))
            if (!item.AsPointer<QTcpSocket>()->parent())
                dialled.insert(item.AsPointer<QTcpSocket>());
    for (QTcpSocket* socket : dialled)
    {
        QObject::disconnect(socket, nullptr, this, nullptr);
        delete socket;
    }
    g(peerSocket).Remove();
    m_obfuscatedListeningServer.close();
    m_listeningServer.close();
    if (peerMessenger == this)
        peerMessenger = nullptr;
}

void PeerMessenger::DeclareTypes(Data& store)
{
    // A messenger made where the types were declared alone finds them there.
    if (store.HasType(peerSocket))
        return;
    TypeTable::Declare(store, typeRows, relationRows);
}

quint16 PeerMessenger::ListeningPort() const
{
    return m_listeningServer.isListening() ? m_listeningServer.serverPort() : 0;
}

void PeerMessenger::SetDefaultListeningPortsForTesting(quint16 plain, quint16 obfuscated)
{
    defaultListeningPort = plain;
    defaultObfuscatedListeningPort = obfuscated;
}

quint16 PeerMessenger::ObfuscatedListeningPort() const
{
    return m_obfuscatedListeningServer.isListening() ? m_obfuscatedListeningServer.serverPort() : 0;
}

void PeerMessenger::DataLoaded()
{
    using namespace PeerSettings;
    if (SettingAsInt(listeningPort) == 0)
    {
        Settings::Set(listeningPort, defaultListeningPort);
        Settings::Set(obfuscatedListeningPort, defaultObfuscatedListeningPort);
    }
    if (SettingAsInt(obfuscatedListeningPort) == 0)
        Settings::Set(obfuscatedListeningPort, SettingAsInt(listeningPort) + 1);
    if (!Settings::Get(newListeningPort).IsNull())
    {
        const int port = SettingAsInt(newListeningPort);
        Settings::Set(listeningPort, port);
        Settings::Set(obfuscatedListeningPort, port + 1);
        Settings::Clear(newListeningPort);
    }
    StartListening(m_listeningServer, static_cast<quint16>(SettingAsInt(listeningPort)), "");
    StartListening(m_obfuscatedListeningServer,
                   static_cast<quint16>(SettingAsInt(obfuscatedListeningPort)), "obfuscated ");
}

void PeerMessenger::StartListening(QTcpServer& server, quint16 port, const char* name)
{
    server.close();
    // A port that is taken leaves the client unreachable there: say so rather than stay silent.
    if (!server.listen(QHostAddress::AnyIPv4, port))
        Log(logArea, 1,
            QString("Could not listen on %1port %2: %3")
                .arg(name)
                .arg(port)
                .arg(server.errorString()));
}

void PeerMessenger::OnConnectedToServer()
{
    if (gp_server)
        gp_server->SetWaitPort(SettingAsInt(PeerSettings::listeningPort),
                               SettingAsInt(PeerSettings::obfuscatedListeningPort));
}

void PeerMessenger::OnNewConnection()
{
    while (QTcpSocket* socket = m_listeningServer.nextPendingConnection())
        Accept(socket, false);
}

void PeerMessenger::OnNewObfuscatedConnection()
{
    while (QTcpSocket* socket = m_obfuscatedListeningServer.nextPendingConnection())
        Accept(socket, true);
}

void PeerMessenger::Accept(QTcpSocket* socket, bool obfuscated)
{
    MakeRoomForLink();
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
    connect(socket, &QTcpSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(socket, &QTcpSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
    ItemPtr item = d.GetType(uninitializedSocket)->NewItem(Value(socket));
    item.Connect(d.GetType(socketCreationTime)
                     ->GetItem(QDateTime::currentDateTime().toString(Qt::TextDate)));
    if (obfuscated)
        item.Connect(d.GetType(isObfuscated)->GetGlobalNullItem());
}

void PeerMessenger::MakeRoomForLink()
{
    Type* silent = d.GetType(uninitializedSocket);
    Type* messaging = d.GetType(peerSocket);
    if (int(silent->ItemCount() + messaging->ItemCount()) < openLinkLimit)
        return;
    // Silent links go first: a flood of new links must not push out the peers that talk.
    ItemPtr oldest;
    QDateTime oldestTime;
    const auto consider = [&](ItemPtr item, const QDateTime& since) {
        if (oldest.IsNull() || since < oldestTime)
        {
            oldest = item;
            oldestTime = since;
        }
    };
    for (ItemPtr item : g(uninitializedSocket))
        consider(item, QDateTime::fromString(item[socketCreationTime].AsString(), Qt::TextDate));
    if (oldest.IsNull())
        for (ItemPtr link : g(peerSocket))
            if (QDateTime* clock = ActivityClock(link))
                consider(link, *clock);
    if (oldest.IsNull())
        return;
    Log(logArea, 1, "Too many open connections, closing the one idle longest");
    AbortLink(oldest.AsPointer<QTcpSocket>());
}

QDateTime* PeerMessenger::ActivityClock(ItemPtr peerSocketItem)
{
    ItemPtr clock = peerSocketItem[lastActivityTime];
    return clock.IsNull() ? nullptr : clock.AsPointer<QDateTime>();
}

void PeerMessenger::OnPeerSocketItemAdded(ItemPtr item)
{
    auto* clock = new QDateTime(QDateTime::currentDateTime());
    item.Connect(d.GetType(lastActivityTime)->GetItem(Value(clock)));
}

void PeerMessenger::OnPeerSocketItemRemoved(ItemPtr item)
{
    ItemPtr clockItem = item[lastActivityTime];
    if (clockItem.IsNull())
        return;
    QDateTime* clock = clockItem.AsPointer<QDateTime>();
    clockItem.Remove();
    delete clock;
}
