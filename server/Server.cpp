#include "Server.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTimer>

#include "Data.h"
#include "DataSaver.h"
#include "Log.h"
#include "MessageCode.h"
#include "PortForwarder.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "TimerManager.h"

Server* gp_server = nullptr;

namespace {
constexpr qint32 loginVersion = 157;
constexpr qint32 loginMinorVersion = 100;
constexpr qint32 statusAway = 1;
constexpr qint32 statusAvailable = 2;

const char* const defaultUsername = "VandrellQT";
const char* const defaultPassword = "BrimstoneHalyardQx";

bool HasSettingKey(const char* key)
{
    Type* keys = d.HasType(Settings::global);
    return keys && keys->HasItem(key);
}
} // namespace

Server::Server()
{
    gp_server = this;
    connect(&socket, &QTcpSocket::connected, this, &Server::OnConnected);
    connect(&socket, &QTcpSocket::readyRead, this, &Server::OnSocketReadyToRead);
    connect(&socket, &QTcpSocket::errorOccurred, this, &Server::OnSocketError);
    connect(&socket, &QTcpSocket::disconnected, this, &Server::OnSocketClosed);
    if (timerManager)
    {
        connect(&timerManager->halfMinuteTimer, &QTimer::timeout, this, &Server::AttemptReconnect);
        connect(&timerManager->hourTimer, &QTimer::timeout, this, &Server::RenewPortMapping);
        connect(&timerManager->fiveMinuteTimer, &QTimer::timeout, this, &Server::EveryFiveMinutes);
    }
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    // A child, so that its worker thread ends with the connection.
    new PortForwarder(this);
}

Server::~Server()
{
    // Closing the socket must neither report nor reconnect.
    socket.disconnect(this);
    socket.abort();
    if (gp_server == this)
        gp_server = nullptr;
}

void Server::SetServerAddressForTesting(const QString& testHost, quint16 testPort)
{
    host = testHost;
    port = testPort;
}

void Server::StartLinkForTesting(ConnectionState state)
{
    connectionState = state;
    frameLengthRead = false;
    receiveBuffer.Reset();
}

void Server::Connect()
{
    if (connectionState != StateOff || Settings::Get(ServerSettings::username).IsNull())
        return;
    // A socket still closing from the last link cannot connect again.
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.abort();
    closedByUser = false;
    frameLengthRead = false;
    receiveBuffer.Reset();
    connectionState = StateConnecting;
    emit Connecting();
    socket.connectToHost(host, port, QIODevice::ReadWrite);
    Log("server", 1, QString("Attempting connection on port %1").arg(port));
    if (Settings::IsYes(ServerSettings::useUpnp) && portForwarder)
        portForwarder->Init();
}

void Server::Disconnect()
{
    if (connectionState != StateLoggedIn)
        return;
    OnDisconnected();
    closedByUser = true;
    reconnectWanted = false;
    socket.close();
}

bool Server::SendMessage(MemStream& message, bool force)
{
    if (connectionState == StateOff || (!force && connectionState != StateLoggedIn))
        return false;
    const int length = message.GetWrittenLength();
    MemStream frame;
    frame.Write(static_cast<quint32>(length));
    frame.WriteBuffer(message.GetWrittenData(), static_cast<unsigned long>(length));
    socket.write(frame.GetWrittenData(), frame.GetWrittenLength());
    return true;
}

void Server::SetAvailabilityStatus(bool available)
{
    Settings::Set(ServerSettings::availabilityStatus, available ? "available" : "away");
    Send(SM_SET_STATUS, available ? statusAvailable : statusAway);
}

void Server::GetOwnPrivilegesStatus()
{
    Send(SM_GET_OWN_PRIVILEGES_STATUS);
}

void Server::SetWaitPort(int listeningPort, int obfuscatedPort)
{
    Send(SM_SET_WAIT_PORT, qint32(listeningPort), qint32(1), qint32(obfuscatedPort));
}

void Server::DataLoaded()
{
    if (!HasSettingKey(ServerSettings::useUpnp))
        Settings::Set(ServerSettings::useUpnp, "yes");
}

void Server::AttemptReconnect()
{
    if (reconnectWanted)
        Connect();
}

void Server::EveryFiveMinutes()
{
    Send(SM_HEARTBEAT);
}

void Server::RenewPortMapping()
{
    if (connectionState != StateLoggedIn || !Settings::IsYes(ServerSettings::useUpnp))
        return;
    Log("server", 1, "Renewing UPnP port mapping.");
    MapListeningPorts();
}

void Server::MapListeningPorts()
{
    if (!portForwarder)
        return;
    portForwarder->AddPortMapping(&socket,
                                  Settings::GetText(ServerSettings::listeningPort).toInt());
    const int obfuscatedPort = Settings::GetText(ServerSettings::obfuscatedListeningPort).toInt();
    if (obfuscatedPort != 0)
        portForwarder->AddPortMapping(&socket, obfuscatedPort);
}

void Server::OnConnected()
{
    if (!HasSettingKey(ServerSettings::username) || !HasSettingKey(ServerSettings::password))
    {
        Settings::Set(ServerSettings::username, defaultUsername);
        Settings::Set(ServerSettings::password, defaultPassword);
    }
    const QString username = Settings::GetText(ServerSettings::username);
    const QString password = Settings::GetText(ServerSettings::password);
    const QByteArray digest =
        QCryptographicHash::hash((username + password).toUtf8(), QCryptographicHash::Md5).toHex();

    MemStream login;
    login.Write(qint32(SM_LOGIN));
    login.Write(username);
    login.Write(password);
    login.Write(loginVersion);
    login.Write(std::string(digest.constData(), digest.size()));
    login.Write(loginMinorVersion);
    SendMessage(login, true);
    reconnectWanted = false;
}

void Server::OnConnectedToServer()
{
    if (firstLogin)
    {
        firstLogin = false;
        for (ItemPtr room : g(ServerTypes::room).Connected(ServerTypes::roomAutojoin))
            EnterRoom(room.AsString(), false);
        if (Settings::IsYes(ServerSettings::useUpnp))
            MapListeningPorts();
    }
    if (Settings::GetText(ServerSettings::availabilityStatus) == "away")
        Send(SM_SET_STATUS, statusAway);
    for (ItemPtr user : g(ServerTypes::user).Connected(ServerTypes::isTracked))
        Send(SM_ADD_USER, user.AsString());
    for (ItemPtr user : g(ServerTypes::user).Connected(ServerTypes::userAddressRequest))
        Send(SM_GET_PEER_ADDRESS, user.AsString());
    Settings::Set(ServerSettings::acceptRoomList, "yes");
}

void Server::OnSocketReadyToRead()
{
    // A flood of messages (a busy room) must not stall the window: what is left after the
    // budget is read in a later pass.
    ReadFrames(socket, readBudgetMs);
    if (socket.bytesAvailable() == 0 || readPending)
        return;
    readPending = true;
    QTimer::singleShot(0, this, [this] {
        readPending = false;
        OnSocketReadyToRead();
    });
}

void Server::ReadFrames(QIODevice& source, int budgetMs)
{
    const bool wasOff = connectionState == StateOff;
    QElapsedTimer spent;
    spent.start();
    for (;;)
    {
        if (!frameLengthRead)
        {
            unsigned char bytes[4];
            if (source.bytesAvailable() < 4 || source.read(reinterpret_cast<char*>(bytes), 4) != 4)
                return;
            frameLength = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | quint32(bytes[3]) << 24;
            if (frameLength > maxFrameLength)
            {
                DropLink();
                return;
            }
            frameLengthRead = true;
            receiveBuffer.EnsureBufferCapacity(static_cast<int>(frameLength));
        }
        const int missing = static_cast<int>(frameLength) - receiveBuffer.GetWrittenLength();
        if (missing > 0)
        {
            const qint64 count = source.read(receiveBuffer.GetWriteBuffer(), missing);
            if (count <= 0)
                return;
            receiveBuffer.AdvanceWriteIndex(static_cast<int>(count));
            if (count < missing)
                return;
        }

        frameLengthRead = false;
        qint32 code = 0;
        // A frame too short to hold its code is skipped.
        if (receiveBuffer.Read(code))
            HandleMessage(code, receiveBuffer);
        receiveBuffer.Reset();
        if (!wasOff && connectionState == StateOff)
            return;
        if (budgetMs >= 0 && spent.elapsed() >= budgetMs)
            return;
    }
}

void Server::OnSocketError(QAbstractSocket::SocketError)
{
    OnSocketClosed();
}

void Server::OnSocketClosed()
{
    if (closedByUser)
    {
        closedByUser = false;
        return;
    }
    OnLinkLost();
}

void Server::OnLinkLost()
{
    if (connectionState == StateConnecting)
    {
        ReportConnectionFailure("socket error");
    }
    else if (connectionState == StateLoggedIn)
    {
        reconnectWanted = true;
        OnDisconnected();
    }
}

void Server::ReportConnectionFailure(const QString& reason)
{
    // A receiver that opens a box runs an event loop, in which the socket's close notice finds
    // the state still connecting: it must not report the same failure again.
    if (reportingFailure)
        return;
    reportingFailure = true;
    // Closed before anyone hears of it: a receiver may show a box for as long as the user
    // leaves it open, and the server must not wait on a link nobody will use.
    socket.abort();
    emit ConnectionFailed(reason);
    reportingFailure = false;
    connectionState = StateOff;
}

void Server::DropLink()
{
    frameLengthRead = false;
    receiveBuffer.Reset();
    OnLinkLost();
    // The state is off now, so the close notice that follows is ignored.
    socket.abort();
}

void Server::OnDisconnected()
{
    connectionState = StateOff;
    emit Disconnected();
    if (d.HasType(ServerTypes::isOnline))
        g(ServerTypes::user).Disconnect(ServerTypes::isOnline);
}
