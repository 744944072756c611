#include <memory>

#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include "Data.h"
#include "FakeCentralServer.h"
#include "FakeInternetGateway.h"
#include "FakePeer.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "PeerSocket.h"
#include "PeerTypes.h"
#include "PortForwarder.h"
#include "Server.h"
#include "ServerStore.h"
#include "ServerTestSetup.h"
#include "Settings.h"

using namespace PeerTypes;
using MessengerTestSetup::Count;
using MessengerTestSetup::SetUserAddress;

class MessengerOutgoingTest : public QObject
{
    Q_OBJECT

private:
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    std::unique_ptr<FakeCentralServer> central;
    std::unique_ptr<FakeInternetGateway> gateway;
    int nextUser = 0;

    QString NewUser() { return QString("user%1").arg(++nextUser); }

    // The token of the last relayed request the central server received.
    quint32 LastRelayToken()
    {
        const QList<ServerMessage> requests = central->MessagesWithCode(18);
        if (requests.isEmpty())
            return 0;
        MemStream fields = requests.last().Fields();
        quint32 token = 0;
        fields.Read(token);
        return token;
    }

    // The item that a row's limit applies to, and the time its age counts from.
    ItemPtr Subject(const QString& kind, const QString& user, QDateTime& since,
                    std::unique_ptr<FakePeer>& peer)
    {
        ItemPtr userItem = ServerStore::User(user);
        if (kind == "queued message" || kind == "relayed attempt")
        {
            MemStream message;
            message.Write(std::uint32_t(15));
            messenger->SendMessage(user, message);
            ItemPtr item = userItem.GetItems(
                kind == "queued message" ? unsentMessage : indirectConnectToPeerRequest);
            since = QDateTime::fromString(item[sendTime].AsString(), Qt::TextDate);
            return item;
        }
        // The link of an earlier row must be gone first, so that the new one is told apart.
        if (!QTest::qWaitFor([] { return Count(uninitializedSocket) == 0; }, 5000))
            return ItemPtr();
        peer = std::make_unique<FakePeer>();
        peer->Dial(messenger->ListeningPort());
        if (kind == "silent accepted link")
        {
            if (!QTest::qWaitFor([] { return Count(uninitializedSocket) == 1; }, 5000))
                return ItemPtr();
            ItemPtr item = ItemSet(g(uninitializedSocket));
            since = QDateTime::fromString(item[socketCreationTime].AsString(), Qt::TextDate);
            return item;
        }
        peer->SendFrame(FakePeer::InitBody(user, "P"));
        if (!QTest::qWaitFor([&] { return userItem.IsConnected(peerSocket); }, 5000))
            return ItemPtr();
        ItemPtr link = userItem.GetItems(peerSocket);
        since = *PeerMessenger::ActivityClock(link);
        return link;
    }

private slots:
    void initTestCase()
    {
        central = std::make_unique<FakeCentralServer>();
        gateway = std::make_unique<FakeInternetGateway>();
        MessengerTestSetup::Build(server, messenger);
        Settings::Set("password", "pw");
        Settings::Set("availability_status", "available");
        Settings::Set("use_upnp", "yes");
        portForwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl());
        QVERIFY(ServerTestSetup::LogIn(*server, *central));
    }

    void cleanupTestCase()
    {
        delete messenger;
        delete server;
    }

    void reportsAndMapsTheListeningPortsAtLogin()
    {
        QVERIFY(central->WaitForCode(2));
        MemStream fields = central->MessagesWithCode(2).first().Fields();
        qint32 port = 0, flag = 0, obfuscatedPort = 0;
        QVERIFY(fields.Read(port) && fields.Read(flag) && fields.Read(obfuscatedPort));
        QCOMPARE(port, qint32(messenger->ListeningPort()));
        QCOMPARE(obfuscatedPort, qint32(messenger->ObfuscatedListeningPort()));

        const QSet<QString> expected{QString::number(port), QString::number(obfuscatedPort)};
        QSet<QString> mapped;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                mapped.clear();
                for (const GatewayRequest& request : gateway->requests)
                    if (request.action == "AddPortMapping")
                        mapped << request.arguments.value("NewExternalPort");
                return mapped.size() >= 2;
            }(),
            10000);
        QCOMPARE(mapped, expected);
    }

    void firstLinkWinsOverTheRelayedAttempt()
    {
        QSignalSpy failed(messenger, &PeerMessenger::ConnectionToUserFailed);
        QSignalSpy fileLinks(messenger, &PeerMessenger::FileConnectionAccepted);
        FakePeer peer;
        const QString user = NewUser();
        SetUserAddress(user, peer.Listen());
        central->ClearMessages();
        messenger->ConnectToUser(user, "F");
        messenger->ConnectToUser(user, "F");
        QVERIFY(peer.WaitForFrames(1));
        QCOMPARE(peer.frames[0], FakePeer::InitBody("me", "F"));
        QVERIFY(ServerTestSetup::Settle(*server, *central));
        QCOMPARE(central->MessagesWithCode(18).size(), 1);
        QCOMPARE(fileLinks.size(), 1);
        fileLinks.at(0).at(1).value<QTcpSocket*>()->deleteLater();

        // The relayed attempt was given up: its late answer finds nothing to answer, and no
        // second file link reaches the transfers.
        FakePeer late;
        late.Dial(messenger->ListeningPort());
        late.SendFrame(FakePeer::RelayAnswerBody(LastRelayToken()));
        QVERIFY(late.WaitForClose());
        QCOMPARE(Count(connectToPeerRequest), 0);
        QCOMPARE(fileLinks.size(), 1);
        QCOMPARE(failed.size(), 0);
    }

    // Both clients dial at once: our direct link comes up first, then the peer answers our
    // relayed request on a link of its own, on which it has already written what it had queued
    // for us. Both links are read, and later messages still reach the peer.
    void readsTheMessagesOfACrossingLink()
    {
        QSignalSpy failed(messenger, &PeerMessenger::ConnectionToUserFailed);
        QSignalSpy queued(messenger, &PeerMessenger::QueueUploadRequested);
        // Its file name is a std::string, which a signal spy cannot hold.
        QObject receiver;
        QList<QPair<QString, uint>> transfers;
        connect(messenger, &PeerMessenger::FileTransferRequested, &receiver,
                [&](QString from, int, uint request, std::string, qint64) {
                    transfers.append({from, request});
                });
        FakePeer direct;
        const QString user = NewUser();
        SetUserAddress(user, direct.Listen());
        central->ClearMessages();
        MemStream ours;
        ours.Write(std::uint32_t(15));
        messenger->SendMessage(user, ours);
        QVERIFY(direct.WaitForFrames(2));
        QCOMPARE(direct.frames[1], FakePeer::Body(15));
        QVERIFY(ServerTestSetup::Settle(*server, *central));
        QCOMPARE(central->MessagesWithCode(18).size(), 1);

        FakePeer crossing;
        crossing.Dial(messenger->ListeningPort());
        crossing.SendFrame(FakePeer::RelayAnswerBody(LastRelayToken()));
        crossing.Send(43, std::string("big.bin"));
        crossing.Send(40, std::int32_t(0), std::uint32_t(77), std::string("big.bin"));
        QTRY_COMPARE_WITH_TIMEOUT(transfers.size(), 1, 5000);
        QCOMPARE(queued.size(), 1);
        QCOMPARE(queued.at(0).at(0).toString(), user);
        QCOMPARE(transfers.at(0).first, user);
        QCOMPARE(transfers.at(0).second, 77u);
        QCOMPARE(ServerStore::User(user).GetItems(peerSocket).Size(), 2u);

        MemStream later;
        later.Write(std::uint32_t(4));
        messenger->SendMessage(user, later);
        QTRY_VERIFY_WITH_TIMEOUT(direct.frames.size() + crossing.frames.size() == 3, 5000);
        QVERIFY(direct.frames.contains(FakePeer::Body(4)) ||
                crossing.frames.contains(FakePeer::Body(4)));
        QVERIFY(direct.IsConnected());
        QVERIFY(crossing.IsConnected());
        QCOMPARE(failed.size(), 0);
    }

    void reportsOneFailureWhenBothAttemptsFail_data()
    {
        QTest::addColumn<bool>("knownAddress");
        QTest::newRow("direct refused, then relay fails") << true;
        QTest::newRow("no address, relay fails") << false;
    }

    void reportsOneFailureWhenBothAttemptsFail()
    {
        QFETCH(bool, knownAddress);
        QSignalSpy failed(messenger, &PeerMessenger::ConnectionToUserFailed);
        const QString user = NewUser();
        if (knownAddress)
            SetUserAddress(user, MessengerTestSetup::UnusedPort());
        central->ClearMessages();
        messenger->ConnectToUser(user, "F");
        QVERIFY(central->WaitForCode(18));
        if (knownAddress)
            QTRY_COMPARE(Count(connectToPeerRequestSocket), 0);
        QCOMPARE(failed.size(), 0);

        central->Send(1001, LastRelayToken());
        QVERIFY(failed.wait());
        QVERIFY(ServerTestSetup::Settle(*server, *central));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0), (QVariantList{user, QString("F")}));
        QCOMPARE(Count(connectToPeerRequest), 0);
    }

    void connectBackDialsTheAddressOfTheRequest_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("P") << "P" << false;
        QTest::newRow("F") << "F" << false;
        QTest::newRow("D") << "D" << false;
        QTest::newRow("P obfuscated") << "P" << true;
    }

    void connectBackDialsTheAddressOfTheRequest()
    {
        QFETCH(QString, type);
        QFETCH(bool, obfuscated);
        QSignalSpy fileLinks(messenger, &PeerMessenger::FileConnectionRequested);
        QSignalSpy dnetLinks(messenger, &PeerMessenger::DNetConnectionRequested);
        const QString user = NewUser();
        FakePeer stale;
        SetUserAddress(user, stale.Listen());
        FakePeer fresh(obfuscated);
        const quint16 port = fresh.Listen();
        const quint32 token = 700 + nextUser;
        const quint32 address = FakePeer::LoopbackAddress();
        if (obfuscated)
            central->Send(18, user, type, address, qint32(port + 1), token, false, qint32(1),
                          qint32(port));
        else
            central->Send(18, user, type, address, qint32(port), token, false, qint32(0));

        QVERIFY(fresh.WaitForFrames(1));
        QCOMPARE(fresh.frames[0], FakePeer::RelayAnswerBody(token));
        QVERIFY(!stale.WaitForClient(0));
        QCOMPARE(Count(peerConnectionRequest), 0);
        if (type == "P")
        {
            ItemPtr link = ServerStore::User(user).GetItems(peerSocket);
            QVERIFY(!link.IsNull());
            QCOMPARE(link.IsConnected(isObfuscated), obfuscated);
            MemStream message;
            message.Write(std::uint32_t(15));
            messenger->SendMessage(user, message);
            QVERIFY(fresh.WaitForFrames(2));
            QCOMPARE(fresh.frames[1], FakePeer::Body(15));
        }
        else if (type == "F")
        {
            fresh.SendRaw(QByteArray::fromHex("2a000000"));
            QVERIFY(fileLinks.wait());
            QCOMPARE(fileLinks.at(0).at(0).toString(), user);
            QCOMPARE(fileLinks.at(0).at(2).toUInt(), 42u);
            fileLinks.at(0).at(1).value<QTcpSocket*>()->deleteLater();
        }
        else
        {
            QCOMPARE(dnetLinks.size(), 1);
            QCOMPARE(dnetLinks.at(0).at(0).toString(), user);
            dnetLinks.at(0).at(1).value<QTcpSocket*>()->deleteLater();
        }
    }

    void queuesUntilTheLinkComesUpThenSendsInOrder()
    {
        FakePeer peer;
        const QString user = NewUser();
        SetUserAddress(user, peer.Listen());
        messenger->GetUserInfo(user);
        messenger->GetUserSharedFiles(user);
        QCOMPARE(Count(unsentMessage), 2);
        QVERIFY(peer.WaitForFrames(3));
        QCOMPARE(peer.frames.mid(1), (QList<QByteArray>{FakePeer::Body(15), FakePeer::Body(4)}));
        QCOMPARE(Count(unsentMessage), 0);
    }

    void queueForOneUserIsBounded()
    {
        const QString user = NewUser();
        for (unsigned sent = 0; sent <= PeerMessenger::unsentMessagesPerUser; ++sent)
        {
            MemStream message;
            message.Write(std::uint32_t(15));
            messenger->SendMessage(user, message);
        }
        QCOMPARE(ServerStore::User(user).GetItems(unsentMessage).Size(),
                 size_t(PeerMessenger::unsentMessagesPerUser));
    }

    void expiredConnectBackTellsTheServer()
    {
        // A connect-back still dialling: its socket may never report, so the tick ends it.
        ItemPtr request = d.GetType(peerConnectionRequest)->NewItem();
        ServerStore::SetAttribute(request, peerConnectionRequestId, Value(55u));
        ServerStore::SetAttribute(request, peerConnectionType, "P");
        request.Connect(ServerStore::User("slow"));
        auto* socket = new PeerSocket;
        ItemPtr item = d.GetType(peerConnectionRequestSocket)->NewItem(Value(socket));
        request.Connect(item);
        const QDateTime since = QDateTime::currentDateTime();
        ServerStore::SetAttribute(item, socketCreationTime, since.toString(Qt::TextDate));
        central->ClearMessages();
        messenger->EveryHalfMinuteAt(since.addSecs(61));
        QCOMPARE(Count(peerConnectionRequest), 0);
        QCOMPARE(Count(peerConnectionRequestSocket), 0);
        QVERIFY(central->WaitForCode(1001));
        MemStream fields = central->MessagesWithCode(1001).first().Fields();
        quint32 token = 0;
        QString user;
        QVERIFY(fields.Read(token) && fields.Read(user));
        QCOMPARE(token, 55u);
        QCOMPARE(user, QString("slow"));
    }

    void expiresAtItsLimit_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<qint64>("age");
        QTest::addColumn<bool>("gone");
        const struct
        {
            const char* kind;
            qint64 limit;
        } limits[] = {{"queued message", 300000},
                      {"relayed attempt", 60000},
                      {"silent accepted link", 60000},
                      {"idle messaging link", 120000}};
        for (const auto& row : limits)
        {
            QTest::addRow("%s at %lld ms", row.kind, row.limit - 1)
                << row.kind << row.limit - 1 << false;
            QTest::addRow("%s at %lld ms", row.kind, row.limit) << row.kind << row.limit << true;
        }
    }

    void expiresAtItsLimit()
    {
        QFETCH(QString, kind);
        QFETCH(qint64, age);
        QFETCH(bool, gone);
        QDateTime since;
        std::unique_ptr<FakePeer> peer;
        ItemPtr item = Subject(kind, NewUser(), since, peer);
        QVERIFY(!item.IsNull());
        // Looked up again by value afterwards: a removed item is gone from memory too.
        Type* type = item.GetType();
        const Value value = item.GetValue();
        messenger->EveryHalfMinuteAt(since.addMSecs(age));
        QCOMPARE(type->HasItem(value) == nullptr, gone);
        if (peer)
            QCOMPARE(peer->WaitForClose(gone ? 5000 : 0), gone);
    }
};

QTEST_MAIN(MessengerOutgoingTest)
#include "tst_messenger_outgoing.moc"
