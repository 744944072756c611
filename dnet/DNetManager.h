#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <utility>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "MemStream.h"
#include "PeerFrame.h"
#include "TCPAddress.h"

// The client's place in the distributed search tree: tries the parents the server names, adopts
// the first that delivers a search, relays searches, level and group leader to the children and
// reports level, group leader, child depth and can-parent status to the server. It owns every
// distributed link the peer messenger hands over.
class DNetManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // A longer frame ends the link that announced it, as on messaging links.
    static constexpr std::uint32_t maxFrameLength = PeerFrame::MaxBodyLength;
    // One pass of the event loop handles a link's frames for at most about this long.
    static constexpr qint64 readSliceMs = 20;
    static_assert(PeerFrame::MaxBytesWaiting >= 4 + qint64(maxFrameLength));
    // A parent that delivers no search for longer than this is dropped.
    static constexpr qint64 parentSilenceLimitSeconds = 60;
    // A child beyond the capacity we report is dropped once it has been held this long.
    static constexpr qint64 surplusChildLimitMs = 60000;

    // Message codes of the distributed links.
    enum Code : unsigned char
    {
        SearchRequest = 3,
        Level = 4,
        GroupLeader = 5,
        ChildDepth = 7
    };
    // The inner code of a search request that carries a search.
    static constexpr std::uint32_t fileSearchInnerCode = 49;

    DNetManager();
    ~DNetManager() override;

    // One message, positioned at its code; a null link means the server delivered it.
    void HandleMessage(QTcpSocket* link, MemStream& message);
    void HandleChildMessage(QTcpSocket* link, MemStream& message);
    // Sends the unread part of the message, as one frame, to every child.
    void SendMessageToChildren(MemStream& message);
    void DetermineChildDepth();
    void DetermineCanParent();
    // The silence check as of the given moment.
    void CheckParentSilence(const QDateTime& now);
    // Drops, as of the given moment, the children past the capacity held too long: the oldest
    // children hold the places within it.
    void CheckSurplusChildren(const QDateTime& now);

signals:
    // A search that came down the tree; answered before it is relayed, so connect directly.
    void DNetSearchRequest(QString user, quint32 token, QString query);

public slots:
    void OnDNetParentMinSpeed(int speed);
    void OnDNetParentSpeedConnectionRatio(int ratio);
    void OnDNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& parents);
    void OnDNetMessage(MemStream& message);
    void OnDNetDeliveryReport(int request);
    void OnDNetReset();
    void OnDNetConnectionAccepted(QString user, QTcpSocket* link);
    void OnDNetConnectionRequested(QString user, QTcpSocket* link);
    void OnConnected();
    void OnSocketReadyToRead();
    void OnSocketClosed();
    void OnSocketError(QAbstractSocket::SocketError error);
    void OnChildSocketReadyToRead();
    void OnChildSocketClosed();
    void OnChildSocketError(QAbstractSocket::SocketError error);
    void EveryHalfMinute();

private:
    using Handler = void (DNetManager::*)(QTcpSocket*, MemStream&);

    void DeclareTypes();
    void OnReceivedOwnUploadSpeed(ItemPtr value);

    // Reads the whole frames the link holds and hands each to the handler, for at most a slice
    // of time per pass of the event loop.
    void ReadFrames(QTcpSocket* link, Handler handler);
    void SendMessageToChildren(const char* message, int length);
    void SendFrame(QTcpSocket* link, const MemStream& message);

    // Parent side.
    void OnSearchRequest(QTcpSocket* link, bool candidate, MemStream& message, const char* start,
                         int length);
    void OnLevel(QTcpSocket* link, bool candidate, MemStream& message);
    void OnGroupLeader(QTcpSocket* link, bool candidate, MemStream& message, const char* start,
                       int length);
    void Adopt(QTcpSocket* link, ItemPtr candidate);
    void LinkEnded(QTcpSocket* link);
    void ChildLinkEnded(QTcpSocket* link);
    // Ends a child link at once, discarding what it still had to read.
    void AbortChild(QTcpSocket* link);

    // Links this manager owns, so that an address read back from the store is known to be live.
    QTcpSocket* LiveLink(ItemPtr item) const;
    void TakeOver(QTcpSocket* link);
    void Cut(QTcpSocket* link);
    void Dispose(QTcpSocket* link);
    void CutCloseDispose(QTcpSocket* link);
    // Closing raises disconnected(), whose slot disposes of the link.
    void Close(QTcpSocket* link);
    static MemStream LevelMessage(int level);
    static MemStream GroupLeaderMessage(const QString& leader);

    MemStream m_receiveStream;
    int m_parentMinSpeed = -1;
    int m_parentSpeedConnectionRatio = -1;
    bool m_canParent = false;
    // Children the last can-parent decision allows; -1 until it could be made.
    qint64 childCapacity = -1;
    struct ChildAcceptance
    {
        quint64 order = 0;
        QDateTime since;
    };
    std::map<QTcpSocket*, ChildAcceptance> childrenAccepted;
    quint64 acceptedChildCount = 0;
    QDateTime m_lastSearchTime;
    std::set<QTcpSocket*> links;
};

extern DNetManager* dnetManager;
