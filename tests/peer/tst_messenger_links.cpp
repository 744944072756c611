#include <memory>

#include <QSignalSpy>
#include <QTest>

#include "CompressedBody.h"
#include "Data.h"
#include "FakePeer.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "SearchResultBody.h"
#include "Server.h"
#include "ServerStore.h"
#include "SharesProvider.h"

using MessengerTestSetup::Count;

namespace {
class FakeShares : public SharesProvider
{
public:
    MemStream GetSharedFilesMessage(const QString& user) override
    {
        MemStream message;
        message.Write(std::uint32_t(5));
        message.Write("shares for " + user);
        return message;
    }
};

QByteArray LittleEndian(std::uint32_t value)
{
    return FakePeer::Body(value);
}

QByteArray SearchReply(const QString& user, std::uint32_t token, const QStringList& names)
{
    SearchResultBody reply;
    reply.user = user;
    reply.token = token;
    for (const QString& name : names)
    {
        FileInfo file;
        file.name = name.toStdString();
        file.size = 1000;
        reply.results.push_back(file);
    }
    reply.freeSlot = true;
    MemStream body;
    MemStream message;
    reply.Write(body);
    CompressedBody::Compress(9, body, message);
    return QByteArray(message.GetWrittenData(), message.GetWrittenLength());
}
} // namespace

class MessengerLinksTest : public QObject
{
    Q_OBJECT

private:
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    FakeShares shares;

    std::unique_ptr<FakePeer> Dial(bool obfuscated = false)
    {
        auto peer = std::make_unique<FakePeer>(obfuscated);
        peer->Dial(obfuscated ? messenger->ObfuscatedListeningPort() : messenger->ListeningPort());
        return peer;
    }

    // Sends in pieces, letting the messenger read after each.
    void SendInPieces(FakePeer& peer, const QByteArray& bytes, int piece)
    {
        for (int at = 0; at < bytes.size(); at += piece)
        {
            peer.SendRaw(bytes.mid(at, piece));
            for (int pass = 0; pass < 3; ++pass)
                QCoreApplication::processEvents();
        }
    }

private slots:
    void initTestCase()
    {
        MessengerTestSetup::Build(server, messenger);
        messenger->SetSharesProvider(&shares);
        QVERIFY(messenger->ListeningPort() != 0);
        QVERIFY(messenger->ObfuscatedListeningPort() != 0);
    }

    void cleanupTestCase()
    {
        delete messenger;
        delete server;
    }

    void answersShareListRequest_data()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("plain port") << false;
        QTest::newRow("obfuscated port") << true;
    }

    void answersShareListRequest()
    {
        QFETCH(bool, obfuscated);
        auto peer = Dial(obfuscated);
        peer->SendFrame(FakePeer::InitBody("bob", "P"));
        peer->Send(4);
        QVERIFY(peer->WaitForFrames(1));
        QCOMPARE(peer->frames[0], FakePeer::Body(5, QString("shares for bob")));
        if (!obfuscated)
            return;
        // The key goes in clear; the length field is XORed with the key rotated once.
        MemStream header;
        header.WriteBuffer(peer->received.constData(), 8);
        std::uint32_t key = 0, length = 0;
        QVERIFY(header.Read(key) && header.Read(length));
        QCOMPARE(length ^ ((key << 1) | (key >> 31)), std::uint32_t(peer->frames[0].size()));
    }

    void handsOverWithLaterBytesUnread_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("relayed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("file init, number, file bytes") << "F" << false << "file requested 77";
        QTest::newRow("distributed init, frames") << "D" << false << "dnet requested";
        QTest::newRow("file relay answer") << "F" << true << "file accepted";
        QTest::newRow("distributed relay answer") << "D" << true << "dnet accepted";
    }

    void handsOverWithLaterBytesUnread()
    {
        QFETCH(QString, type);
        QFETCH(bool, relayed);
        QFETCH(QString, expected);
        QString seen;
        QTcpSocket* socket = nullptr;
        auto take = [&](const QString& what, const QString& user, QTcpSocket* handed) {
            seen = what + (user == "bob" ? "" : " from " + user);
            socket = handed;
        };
        QMetaObject::Connection connections[] = {
            connect(messenger, &PeerMessenger::FileConnectionRequested, this,
                    [&](QString user, QTcpSocket* handed, uint number) {
                        take(QString("file requested %1").arg(number), user, handed);
                    }),
            connect(
                messenger, &PeerMessenger::DNetConnectionRequested, this,
                [&](QString user, QTcpSocket* handed) { take("dnet requested", user, handed); }),
            connect(messenger, &PeerMessenger::FileConnectionAccepted, this,
                    [&](QString user, QTcpSocket* handed) { take("file accepted", user, handed); }),
            connect(messenger, &PeerMessenger::DNetConnectionAccepted, this,
                    [&](QString user, QTcpSocket* handed) { take("dnet accepted", user, handed); }),
        };

        QByteArray first = FakePeer::InitBody("bob", type);
        if (relayed)
        {
            messenger->ConnectToUser("bob", type.toLatin1().constData());
            ItemPtr request = ServerStore::User("bob")
                                  .GetItems(PeerTypes::connectToPeerRequest)
                                  .Connected(PeerTypes::peerConnectionType, Value(type));
            first = FakePeer::RelayAnswerBody(
                request[PeerTypes::indirectConnectToPeerRequest].AsUInt());
        }
        auto peer = Dial();
        const QByteArray later =
            type == "F" && !relayed ? LittleEndian(77) + "file bytes" : peer->Frame("distributed");
        peer->SendRaw(peer->Frame(first) + later);
        QTRY_COMPARE(seen, expected);
        QVERIFY(socket);
        const QByteArray unread = type == "F" && !relayed ? QByteArray("file bytes") : later;
        QTRY_COMPARE(socket->bytesAvailable(), qint64(unread.size()));
        QCOMPARE(socket->readAll(), unread);
        delete socket;
        for (const auto& connection : connections)
            disconnect(connection);
    }

    void assemblesFramesHoweverTheyArrive_data()
    {
        QTest::addColumn<int>("piece");
        QTest::addColumn<int>("halfOfThird");
        QTest::newRow("byte by byte") << 1 << 0;
        QTest::newRow("two and a half frames per read") << 0 << 1;
    }

    void assemblesFramesHoweverTheyArrive()
    {
        QFETCH(int, piece);
        QFETCH(int, halfOfThird);
        QList<quint32> tokens;
        auto connection = connect(messenger, &PeerMessenger::SharedFilesInFolderRequested, this,
                                  [&](QString, quint32 token, QString) { tokens << token; });
        auto peer = Dial();
        QByteArray frames[3];
        for (int index = 0; index < 3; ++index)
            frames[index] = peer->Frame(FakePeer::Body(36, std::uint32_t(index + 1), QString("f")));
        const QByteArray all =
            peer->Frame(FakePeer::InitBody("bob", "P")) + frames[0] + frames[1] + frames[2];
        // Up to the last byte, or half of the third frame.
        const int cut = all.size() - (halfOfThird ? frames[2].size() / 2 : 1);
        SendInPieces(*peer, all.left(cut), piece ? piece : cut);
        QTRY_COMPARE(tokens.size(), 2);
        QCOMPARE(tokens, (QList<quint32>{1, 2}));
        peer->SendRaw(all.mid(cut));
        QTRY_COMPARE(tokens.size(), 3);
        QCOMPARE(tokens.last(), 3u);
        disconnect(connection);
    }

    void closesBadLinksAndAcceptsNewOnes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray init = FakePeer::Frame(false, FakePeer::InitBody("bob", "P"));
        QTest::newRow("length 0100A000") << init + QByteArray::fromHex("0100A000");
        QTest::newRow("type X") << FakePeer::Frame(false, FakePeer::InitBody("bob", "X"));
        QTest::newRow("relay answer with unknown token")
            << FakePeer::Frame(false, FakePeer::RelayAnswerBody(424242));
        QTest::newRow("init without its last field")
            << FakePeer::Frame(false, FakePeer::InitBody("bob", "P").chopped(4));
        QTest::newRow("search reply naming another user")
            << init + FakePeer::Frame(false, SearchReply("mallory", 1, {"a"}));
    }

    void closesBadLinksAndAcceptsNewOnes()
    {
        QFETCH(QByteArray, bytes);
        auto bad = Dial();
        bad->SendRaw(bytes);
        QVERIFY(bad->WaitForClose());
        QTRY_COMPARE(Count(PeerTypes::uninitializedSocket), 0);

        QSignalSpy asked(messenger, &PeerMessenger::UserInfoRequested);
        auto good = Dial();
        good->SendFrame(FakePeer::InitBody("carol", "P"));
        good->Send(15);
        QVERIFY(asked.wait());
        QCOMPARE(asked.at(0).at(0).toString(), QString("carol"));
    }

    void stopsReadingALinkDisposedByAReceiver()
    {
        int asked = 0;
        auto connection =
            connect(messenger, &PeerMessenger::UserInfoRequested, this, [&](QString user) {
                ++asked;
                ItemPtr link = ServerStore::User(user).GetItems(PeerTypes::peerSocket);
                messenger->DisposeOfSocket(link.AsPointer<QTcpSocket>());
            });
        auto peer = Dial();
        peer->SendRaw(peer->Frame(FakePeer::InitBody("dora", "P")) +
                      peer->Frame(FakePeer::Body(15)) + peer->Frame(FakePeer::Body(15)));
        QVERIFY(peer->WaitForClose());
        QCOMPARE(asked, 1);
        disconnect(connection);
    }

    void keepsLinkAtLengthLimit()
    {
        QSignalSpy asked(messenger, &PeerMessenger::UserInfoRequested);
        auto peer = Dial();
        QByteArray body = FakePeer::Body(15);
        body.resize(0xA00000);
        peer->SendFrame(FakePeer::InitBody("bob", "P"));
        peer->SendRaw(QByteArray::fromHex("0000A000") + body);
        QVERIFY(asked.wait(10000));
        QVERIFY(peer->IsConnected());
    }

    void storesSearchResults_data()
    {
        QTest::addColumn<bool>("liveToken");
        QTest::addColumn<bool>("ignored");
        QTest::addColumn<int>("replies");
        QTest::addColumn<int>("announced");
        QTest::addColumn<int>("results");
        QTest::newRow("live token") << true << false << 1 << 1 << 2;
        QTest::newRow("duplicate reply") << true << false << 2 << 1 << 2;
        QTest::newRow("stale token") << false << false << 1 << 0 << 0;
        QTest::newRow("ignored user") << true << true << 1 << 0 << 0;
    }

    void storesSearchResults()
    {
        QFETCH(bool, liveToken);
        QFETCH(bool, ignored);
        QFETCH(int, replies);
        QFETCH(int, announced);
        QFETCH(int, results);
        static std::uint32_t nextToken = 100;
        const std::uint32_t token = ++nextToken;
        const QString user = QString("finder%1").arg(token);
        if (liveToken)
        {
            ItemPtr request = d.GetType(PeerTypes::searchRequest)->NewItem(Value(token));
            ServerStore::SetAttribute(request, PeerTypes::searchRequestText, "song");
        }
        if (ignored)
            ServerStore::User(user).Connect(d.GetType(ServerTypes::isIgnored)->GetGlobalNullItem());

        QSignalSpy found(messenger, &PeerMessenger::SearchResults);
        QSignalSpy asked(messenger, &PeerMessenger::UserInfoRequested);
        auto peer = Dial();
        peer->SendFrame(FakePeer::InitBody(user, "P"));
        for (int reply = 0; reply < replies; ++reply)
            peer->SendFrame(SearchReply(
                user, token, {"music\\song one.mp3", "music\\song two.mp3", "music\\other.mp3"}));
        // Answered only after every reply before it was handled.
        peer->Send(15);
        QVERIFY(asked.wait());
        QCOMPARE(found.size(), announced);
        ItemPtr request = d.GetType(PeerTypes::searchRequest)->HasItem(Value(token));
        const ItemSet stored =
            request.IsNull()
                ? ItemSet()
                : request.GetItems(PeerTypes::searchResults).GetItems(PeerTypes::searchResult);
        QCOMPARE(int(stored.Size()), results);
        QVERIFY(peer->IsConnected());
    }
};

QTEST_MAIN(MessengerLinksTest)
#include "tst_messenger_links.moc"
