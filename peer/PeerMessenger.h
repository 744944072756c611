#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include "AttributeTranslationTable.h"
#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "FileInfoMap.h"
#include "ItemPtr.h"
#include "MemStream.h"

class Data;
class SharesProvider;

// Owns every direct link to other clients: listens on the plain and obfuscated ports, dials users
// directly and through the server, frames and reads peer messages, and turns them into store items
// and signals. File and distributed links are handed to their owners once their handshake is done.
class PeerMessenger : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // The reading state of one socket.
    struct SocketBufferInfo
    {
        bool m_lengthRead = false;
        std::uint32_t m_frameLength = 0;
        // The next 4 bytes are the raw request number of an incoming file link.
        bool m_rawTokenNext = false;
        // The frame just dispatched gave the link to another owner.
        bool m_handedOff = false;
        QString m_user;
        // The body as received, still XORed on an obfuscated link.
        MemStream m_buffer;
        bool m_obfuscated = false;
        // The key after the length field's rotation.
        std::uint32_t m_key = 0;
        // When the file link began to wait for its request number.
        QDateTime m_rawTokenSince;
    };

    // Limits of the half-minute housekeeping, in milliseconds of age.
    static constexpr qint64 unsentMessageLimitMs = 300000;
    // Messages held for one user whose link is not up yet; later ones are dropped.
    static constexpr unsigned unsentMessagesPerUser = 256;
    // Messages held for all users together, and their bytes: any peer may name new users (the
    // askers of relayed searches), each of whom would otherwise cost an answer held for minutes.
    static constexpr int unsentMessagesInAll = 10000;
    static constexpr qint64 unsentBytesInAll = 64 * 1024 * 1024;
    static constexpr qint64 connectAttemptLimitMs = 60000;
    static constexpr qint64 idleLinkLimitMs = 120000;
    // An accepted socket must send its first frame within this time, and an accepted file link
    // its request number.
    static constexpr qint64 firstFrameLimitMs = 60000;
    // Accepted and messaging links held at once; a new one pushes out the one idle longest.
    static constexpr int maxOpenLinks = 1000;
    // One pass of the event loop handles a link's messages for at most about this long.
    static constexpr qint64 readSliceMs = 20;

    PeerMessenger();
    ~PeerMessenger() override;

    // Declares the messenger's item types and relations in the store; the constructor does it
    // for `d`, and tests of other parts that only need the types may call it alone.
    static void DeclareTypes(Data& store);
    // The ports a first run listens on; tests pass ports the OS found free, so that they never
    // take the well-known ones.
    static void SetDefaultListeningPortsForTesting(quint16 plain, quint16 obfuscated);
    // One whole frame body as the reader hands it over from the socket; false drops the link.
    // The fuzz target feeds bodies here without a live connection.
    bool DispatchForTesting(QTcpSocket* socket, MemStream body)
    {
        return HandleMessage(socket, body);
    }
    // Tests try the limit of open links with a few links instead of a thousand.
    void SetMaxOpenLinksForTesting(int limit) { openLinkLimit = limit; }

    void SetSharesProvider(SharesProvider* provider) { sharesProvider = provider; }
    // The ports actually listened on, 0 when that server is not listening.
    quint16 ListeningPort() const;
    quint16 ObfuscatedListeningPort() const;

    void DataLoaded() override;

    // Links to users.
    void ConnectToUser(const QString& user, const char* type);
    void RequestFileConnectionToUser(const QString& user);
    void RequestDNetConnection(const QString& user);
    int GetUserPort(ItemPtr user, bool& obfuscated);
    void InspectPeerConnectionRequest(ItemPtr request);

    // Sending.
    bool SendMessage(QTcpSocket* socket, MemStream& body, bool obfuscated);
    void SendMessage(const QString& user, MemStream& message);
    void SendUnsentMessages(const QString& user);

    void GetUserSharedFiles(const QString& user);
    void GetUserInfo(const QString& user);
    unsigned int RequestUpload(const QString& user, const QString& file, long long size);
    void AcceptTransferRequest(const QString& user, unsigned int request, bool sendSize,
                               long long size);
    void DenyTransferRequest(const QString& user, unsigned int request, const QString& reason);
    void QueueDownload(const QString& user, const std::string& file);
    void SendUploadPlaceInLine(const QString& user, const QString& file, int place);
    void DenyUpload(const QString& user, const QString& file, const QString& reason);
    void QueueUpload(const QString& user, const QString& file, long long size);
    void SendMessageToUser(const QString& user, MemStream& message);

    // Ending sockets and requests.
    void DisposeOfSocket(QTcpSocket* socket);
    void DisposeOfPeerConnectionRequest(ItemPtr request);

    // The half-minute housekeeping as of the given moment.
    void EveryHalfMinuteAt(const QDateTime& now);

    // The activity clock of a messaging link's item, or null.
    static QDateTime* ActivityClock(ItemPtr peerSocket);

signals:
    void SearchResults(ItemPtr results);
    void FileConnectionRequested(QString user, QTcpSocket* socket, uint request);
    void UserShare(QString user, FileInfoMap& folders, AttributeTranslationTable& attributeNames);
    void FileTransferRequested(QString user, int direction, uint request, std::string file,
                               qint64 size);
    void QueueUploadRequested(QString user, QString file);
    void FileConnectionAccepted(QString user, QTcpSocket* socket);
    void FileTransferResponse(QString user, uint request, bool accepted, bool sizeReceived,
                              qint64 size, QString reason);
    void DNetConnectionRequested(QString user, QTcpSocket* socket);
    void DNetConnectionAccepted(QString user, QTcpSocket* socket);
    void UploadFailed(QString user, std::string file);
    void UploadDenied(QString user, std::string file, QString reason);
    void SharedFilesInFolderRequested(QString user, quint32 token, QString folder);
    void DownloadPlaceInLine(QString user, std::string file, int place);
    void ConnectionToUserFailed(QString user, QString type);
    void UploadPlaceInLineRequested(QString user, QString file);
    void QueueDownloadRequested(QString user, std::string file, qint64 size);
    void UserInfoRequested(QString user);
    void UserInfoReceived(QString user, QString description, bool hasPicture, char* picture,
                          int pictureLength, int uploadSlots, int queuedUploads, bool freeSlot);

public slots:
    void OnNewConnection();
    void OnNewObfuscatedConnection();
    void OnConnectedToServer();
    void OnSocketReadyToRead();
    void OnSocketClosed();
    void OnSocketError(QAbstractSocket::SocketError error);
    void OnIndirectResponseSocketConnected();
    void OnConnectToPeerSocketConnected();
    void OnConnectToPeerSocketError(QAbstractSocket::SocketError error);
    void OnIndirectPeerConnectionFailure(uint token);
    void EveryHalfMinute();

private:
    // Handles the link's whole frames that have arrived, for at most a slice of time.
    void ReadFrames(QTcpSocket* socket);
    // Deletes a queued message and forgets its item.
    void DropUnsentMessage(ItemPtr message);
    // Removes the items of users made only to queue messages whose messages have all gone.
    void ForgetQueueOnlyUsers();
    // Logs a direct or relayed attempt that failed, forgets it and looks at its request again.
    void DropFailedAttempt(ItemPtr attempt, const char* kind);
    // Store handlers.
    void OnPeerSocketItemAdded(ItemPtr item);
    void OnPeerSocketItemRemoved(ItemPtr item);
    void OnPeerConnectionRequest(ItemPtr request);
    void OnUserAddress(ItemPtr user);

    void Accept(QTcpSocket* socket, bool obfuscated);
    // At the limit of open links, ends the accepted link still silent the longest, else the
    // messaging link idle the longest.
    void MakeRoomForLink();
    // Ends a link at once, discarding what it still had to send.
    void AbortLink(QTcpSocket* socket);
    void WaitForRequestNumber(QTcpSocket* socket, const QString& user);
    void StartListening(QTcpServer& server, quint16 port, const char* name);
    void DialDirectly(ItemPtr request, ItemPtr user, ItemPtr type);
    // Makes the peer_socket item of a messaging link that has come up and flushes the queue.
    void OpenMessagingLink(QTcpSocket* socket, const QString& user, bool obfuscated);
    // Cuts every connection from the socket to the messenger before another owner takes it.
    void ReleaseSocket(QTcpSocket* socket);
    // A share list written to the link has not all reached the system yet.
    bool IsShareListUnsent(QTcpSocket* socket) const;
    void DisposeOfSocketInner(QTcpSocket* socket);
    void SendInit(QTcpSocket* socket, const QString& type, bool obfuscated);

    // Reading.
    bool HandleMessage(QTcpSocket* socket, MemStream body);
    bool HandleFirstFrame(QTcpSocket* socket, MemStream& body);
    bool HandleRelayAnswer(QTcpSocket* socket, MemStream& body, bool obfuscated);

    // The messaging stage: one handler per code; false drops the link.
    bool OnSearchResults(const QString& user, MemStream& body);
    bool OnSharedFileListRequest(const QString& user);
    bool OnSharedFileList(const QString& user, MemStream& body);
    bool OnFolderContentsRequest(const QString& user, MemStream& body);
    bool OnUserInfoReply(const QString& user, MemStream& body);
    bool OnTransferRequest(const QString& user, MemStream& body);
    bool OnTransferResponse(const QString& user, MemStream& body);
    bool OnQueueUpload(const QString& user, MemStream& body);
    bool OnUploadPlaceInLine(const QString& user, MemStream& body);
    bool OnUploadFailed(const QString& user, MemStream& body);
    bool OnUploadDenied(const QString& user, MemStream& body);
    bool OnUploadPlaceInLineRequest(const QString& user, MemStream& body);
    bool OnQueueDownload(const QString& user, MemStream& body);

    // Stores one search reply's records; false when the reply is malformed.
    bool StoreSearchResults(const QString& linkUser, MemStream& inflated);

    QTcpServer m_listeningServer;
    QTcpServer m_obfuscatedListeningServer;
    std::map<QTcpSocket*, SocketBufferInfo> m_socketBuffers;
    // What was written to a link of ours, counted from its first byte.
    struct WriteState
    {
        std::int64_t queued = 0;
        // Where the last share list written ends.
        std::int64_t shareListEnd = 0;
    };
    std::map<QTcpSocket*, WriteState> m_writeStates;
    int sendOrderCounter = 0;
    int openLinkLimit = maxOpenLinks;
    qint64 unsentBytes = 0;
    // Users whose items were made by queueing a message to them.
    std::set<QString> queueOnlyUsers;
    // Users we asked for their share list who have not sent it yet.
    std::set<QString> shareListsAsked;
    SharesProvider* sharesProvider = nullptr;
};

extern PeerMessenger* peerMessenger;
extern bool g_peerMessengerDeleted;
