#pragma once

#include <ctime>
#include <list>
#include <utility>

#include <QObject>
#include <QString>
#include <QTcpSocket>

#include "DataLoadedEventHandler.h"
#include "MemStream.h"
#include "TCPAddress.h"
#include "UserStats.h"

// The one link to the central server: logs in, frames and unframes messages, turns incoming
// messages into store items and signals, and sends the requests of every other part.
class Server : public QObject, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum ConnectionState
    {
        StateOff = 0,
        StateConnecting = 1,
        StateLoggedIn = 2
    };

    static constexpr const char* defaultHost = "server.vandrell.net";
    static constexpr quint16 defaultPort = 2242;
    // Larger frames are refused and the link dropped: nothing the server sends comes near it.
    static constexpr quint32 maxFrameLength = 64u * 1024 * 1024;

    Server();
    ~Server() override;

    // Tests point the connection at a loopback fake instead of the central server.
    void SetServerAddressForTesting(const QString& host, quint16 port);
    // Fuzzers feed ReadFrames without a socket: puts the link in the state with an empty reader.
    void StartLinkForTesting(ConnectionState state);

    void Connect();
    void Disconnect();
    bool IsConnected() const { return connectionState == StateLoggedIn; }
    bool IsAbruptlyDisconnected() const { return reconnectWanted; }
    int GetConnectionState() const { return connectionState; }

    // Frames and writes the message; only the login passes force, to write while connecting.
    // Returns whether the message went to the socket.
    bool SendMessage(MemStream& message, bool force = false);

    void SetAvailabilityStatus(bool available);
    void GetOwnPrivilegesStatus();
    void SetWaitPort(int port, int obfuscatedPort);

    // Declares the server's item types; once per run, before the saved store is loaded.
    void CreateData();

    static QString MessageCodeToString(int code);
    // Acts on one whole incoming message; the body is positioned after the code.
    void HandleMessage(int code, MemStream& body);

    // Searches (tokens from nextSearchToken).
    unsigned int FileSearch(const QString& text, bool wishListSearch);
    unsigned int SearchUserList(const QString& text);
    unsigned int SearchRoom(const QString& room, const QString& text);
    void GetSearchCorrelations(const QString& text);

    // Requests.
    void SendFilesFolders(int folders, int files);
    void SendChildDepth(bool value);
    void SendDNetHasParent(bool hasParent);
    void SendDNetLevel(int level);
    void SendDNetCanParent(bool canParent);
    void GetRoomList();
    void UntrackUser(const QString& user);
    void EnterRoom(const QString& room, bool isPrivate);
    void SendCantConnectToPeer(unsigned int token, const QString& user);
    void RemovePrivateRoomMember(const QString& room, const QString& user);
    void AddPrivateRoomMember(const QString& room, const QString& user);
    void GetUserStats(const QString& user);
    void GetUserStatus(const QString& user);
    void SendRoomChat(const QString& room, const QString& text);
    unsigned int SendIndirectConnectionRequest(const QString& user, const QString& type);
    void GiveUpPrivateRoomMembership(const QString& room);
    void AddPrivateRoomOperator(const QString& room, const QString& user);
    void LeaveRoom(const QString& room);
    void GetUserAddress(const QString& user);
    void BannedUser(const QString& user);
    void SetRoomTicker(const QString& room, const QString& text);
    void SendDNetGroupLeader(const QString& leader);
    void GiftPrivileges(const QString& user, int days);
    void EnablePrivateRoomAdd(bool enable);
    void SendPrivateChat(const QString& user, const QString& text);
    void RemovePrivateRoomOperator(const QString& room, const QString& user);
    void AddUser(const QString& user);
    void TrackUser(const QString& user);
    void SendUploadSpeed(int bytesPerSecond);
    void GiveUpPrivateRoom(const QString& room);

    void DataLoaded() override;

    // Reassembles and handles every whole frame that source holds; the socket's bytes come
    // through here, and a benchmark feeds a buffer. Stops when the link was closed meanwhile,
    // or after a frame once budgetMs have passed (never, when negative).
    void ReadFrames(QIODevice& source, int budgetMs = -1);

    // How long one pass of the event loop may spend on the server's messages.
    static constexpr int readBudgetMs = 20;

signals:
    void Connecting();
    void ConnectionFailed(QString i_reason);
    void Connected();
    void Disconnected();
    void SearchRequested(uint i_req, QString i_search, bool i_wishListSearch);
    void RoomChat(QString i_room, QString i_user, QString i_chat);
    void PrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);
    void PrivateChatSent(QString i_user, QString i_chat);
    void IndirectPeerConnectionFailure(uint i_req);
    void DNetParentMinSpeed(int i_speed);
    void DNetParentSpeedConnectionRatio(int i_ratio);
    void DNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& i_parentList);
    void DNetMessage(MemStream& i_message);
    void DNetDeliveryReport(int i_req);
    void DNetReset();
    void ReceivedUserStats(QString i_user, UserStats i_stats);
    void WishListWait(uint i_waitPeriod);
    void AddUserResponse(QString i_user, bool i_added);
    void ReceivedOwnPrivilegesStatus(int i_seconds);
    void SearchCorrelations(QString i_search);
    void PrivateRoomAddEnabled(bool i_enabled);
    void DirectFileSearch(QString i_user, quint32 i_req, QString i_search);
    void AdminMessage(QString i_message);

public slots:
    void AttemptReconnect();
    void EveryFiveMinutes();
    void RenewPortMapping();

private slots:
    void OnConnected();
    void OnSocketReadyToRead();
    void OnSocketError(QAbstractSocket::SocketError error);
    void OnSocketClosed();

private:
    void OnDisconnected();
    void OnConnectedToServer();
    // The link failed or was dropped: reported as the state says, as a socket error is.
    void OnLinkLost();
    // Ends the link at once because the server sent what no server would.
    void DropLink();
    // Emits ConnectionFailed while the state is still connecting, then sets it off.
    void ReportConnectionFailure(const QString& reason);
    // Asks the port forwarder to map listening_port, and obfuscated_listening_port unless 0.
    void MapListeningPorts();

    // Writes the code and fields as one message; false when it was dropped.
    template <class... Fields> bool Send(qint32 code, const Fields&... fields)
    {
        MemStream message;
        message.Write(code);
        (message.Write(fields), ...);
        return SendMessage(message);
    }

    void OnLoginReply(MemStream& body);
    void OnAddUserReply(MemStream& body);
    void OnUserStatus(MemStream& body);
    void OnPrivateMessage(MemStream& body);
    void OnUserStats(MemStream& body);
    void OnAdminMessage(MemStream& body);
    void OnPrivilegedList(MemStream& body);
    void OnOwnPrivileges(MemStream& body);

    void OnPeerAddress(MemStream& body);
    void OnConnectToPeer(MemStream& body);
    void OnFileSearch(MemStream& body);
    void OnPossibleParents(MemStream& body);
    void OnSearchCorrelations(MemStream& body);

    void OnRoomChat(MemStream& body);
    void OnJoinRoom(MemStream& body);
    void OnLeaveRoom(MemStream& body);
    void OnUserJoinedRoom(MemStream& body);
    void OnUserLeftRoom(MemStream& body);
    void OnRoomList(MemStream& body);
    void OnRoomTickers(MemStream& body);
    void OnRoomTickerSet(MemStream& body);
    void OnRoomAutojoinDropped(MemStream& body);

    void OnRoomMembers(MemStream& body);
    void OnRoomMemberAdded(MemStream& body);
    void OnRoomMemberRemoved(MemStream& body);
    void OnRoomMembershipAdded(MemStream& body);
    void OnRoomMembershipRemoved(MemStream& body);
    void OnPrivateRoomAddEnabled(MemStream& body);
    void OnRoomOperatorAdded(MemStream& body);
    void OnRoomOperatorRemoved(MemStream& body);
    void OnRoomOperatorshipAdded(MemStream& body);
    void OnRoomOperatorshipRemoved(MemStream& body);
    void OnRoomOperators(MemStream& body);

    qint32 connectionState = StateOff;
    QTcpSocket socket;
    bool frameLengthRead = false;
    quint32 frameLength = 0;
    quint32 nextSearchToken = 1;
    MemStream receiveBuffer;
    quint32 nextConnectionToken = 1;
    bool firstLogin = true;
    bool closedByUser = false;
    bool reconnectWanted = false;
    bool reportingFailure = false;
    bool readPending = false;
    qint64 nextTickerOrder = 1;

    QString host = defaultHost;
    quint16 port = defaultPort;
};

extern Server* gp_server;
