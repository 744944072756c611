#include <memory>

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include "Data.h"
#include "FakeCentralServer.h"
#include "FakeInternetGateway.h"
#include "PortForwarder.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "ServerTypes.h"
#include "Settings.h"

namespace {
ItemPtr User(const char* name)
{
    return d.GetType(ServerTypes::user)->GetItem(name);
}

// Feeds the bytes to the frame reader one at a time, as separate reads; what the reader leaves
// stays in the source, as in a socket.
void FeedByteByByte(Server& server, const QByteArray& bytes)
{
    QByteArray arrived;
    QBuffer source(&arrived);
    source.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    for (char byte : bytes)
    {
        arrived.append(byte);
        server.ReadFrames(source);
    }
}
} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sendsExactLoginBytes();
    void sendsNonAsciiUserNameAsUtf8();
    void writesDefaultCredentialsWhenOneIsMissing();
    void connectNeedsStoredUserName();
    void acceptedLoginRunsFollowUpAfterConnected();
    void failedConnectionReportsSocketErrorWithoutRetry();
    void refusedLoginEndsRetries();
    void stopsReadingOnceRefusalClosedLink();
    void handlesJoinedSplitShortAndUnknownFrames();
    void growsReceiveBufferForLargeFrame();
    void dropsOversizedFrameAndReconnectsOnTick();
    void lostLinkClearsOnlineMarksOnce();
    void userDisconnectDoesNotReconnect();
    void ignoresMessagesWhileOffAndLoginReplyWhileLoggedIn();
    void namesMessageCodes_data();
    void namesMessageCodes();
    void settlesUpnpSettingAfterLoad();
    void mapsListeningPortsAtFirstLoginAndEveryHour();

private:
    std::unique_ptr<FakeCentralServer> fake;
    std::unique_ptr<Server> server;
};

void ConnectionTest::init()
{
    fake = std::make_unique<FakeCentralServer>();
    server = std::make_unique<Server>();
    ServerTestSetup::DeclareTypes(*server);
    ServerTestSetup::ResetStore();
    server->SetServerAddressForTesting("127.0.0.1", fake->Port());
}

void ConnectionTest::cleanup()
{
    server.reset();
    fake.reset();
}

void ConnectionTest::sendsExactLoginBytes()
{
    fake->SetLoginReply(FakeCentralServer::NoLoginReply);
    server->Connect();
    QVERIFY(fake->WaitForMessages(1));

    const QByteArray expected =
        QByteArray::fromHex("3E000000 01000000 03000000 616263 03000000 646566 9D000000 20000000") +
        "e80b5017098950fc58aad83c8c14978e" + QByteArray::fromHex("64000000");
    QCOMPARE(fake->received, expected);
    QCOMPARE(server->GetConnectionState(), int(Server::StateConnecting));
}

void ConnectionTest::sendsNonAsciiUserNameAsUtf8()
{
    ServerTestSetup::ResetStore(QString::fromUtf8("Zo\xc3\xab"), "pw");
    fake->SetLoginReply(FakeCentralServer::NoLoginReply);
    server->Connect();
    QVERIFY(fake->WaitForMessages(1));

    MemStream fields = fake->messages.first().Fields();
    std::string user, password, digest;
    qint32 version = 0;
    QVERIFY(fields.Read(user) && fields.Read(password) && fields.Read(version) &&
            fields.Read(digest));
    QCOMPARE(QByteArray::fromStdString(user).toHex(), QByteArray("5a6fc3ab"));
    QCOMPARE(digest, std::string("5cc6343d9b2396052935a9b2fd9fa385"));
}

void ConnectionTest::writesDefaultCredentialsWhenOneIsMissing()
{
    d.RemoveAllItems();
    Settings::Set(ServerSettings::username, "someone");
    fake->SetLoginReply(FakeCentralServer::NoLoginReply);
    server->Connect();
    QVERIFY(fake->WaitForMessages(1));

    MemStream fields = fake->messages.first().Fields();
    QString user, password;
    QVERIFY(fields.Read(user) && fields.Read(password));
    QCOMPARE(user, QString("VandrellQT"));
    QCOMPARE(password, QString("BrimstoneHalyardQx"));
    QCOMPARE(Settings::GetText(ServerSettings::username), QString("VandrellQT"));
}

void ConnectionTest::connectNeedsStoredUserName()
{
    d.RemoveAllItems();
    QSignalSpy connecting(server.get(), &Server::Connecting);
    server->Connect();
    QCOMPARE(connecting.count(), 0);
    QCOMPARE(server->GetConnectionState(), int(Server::StateOff));

    ServerTestSetup::ResetStore();
    server->Connect();
    server->Connect();
    QCOMPARE(connecting.count(), 1);
    QVERIFY(fake->WaitForMessages(1));
}

void ConnectionTest::acceptedLoginRunsFollowUpAfterConnected()
{
    d.GetType(ServerTypes::room)->GetItem("lobby")->NewItem(ServerTypes::roomAutojoin);
    d.GetType(ServerTypes::room)->GetItem("elsewhere");
    User("bob").NewItem(ServerTypes::isTracked);
    User("carol").NewItem(ServerTypes::userAddressRequest);
    server->SetAvailabilityStatus(false);
    QCOMPARE(Settings::GetText(ServerSettings::availabilityStatus), QString("away"));

    fake->SetLoginReply(FakeCentralServer::NoLoginReply);
    QSignalSpy connected(server.get(), &Server::Connected);
    // Whatever a receiver of Connected() sends goes out before the follow-up.
    connect(server.get(), &Server::Connected, this, [this] { server->GetOwnPrivilegesStatus(); });
    server->Connect();
    QVERIFY(fake->WaitForMessages(1));
    server->EveryFiveMinutes();
    server->SetWaitPort(2234, 2235);
    fake->Send(1, true, QString("hi"), quint32(0), QString(), false);

    QVERIFY(connected.wait(5000));
    QVERIFY(fake->WaitForMessages(6));
    QCOMPARE(fake->Codes(), (QList<qint32>{1, 92, 14, 28, 5, 3}));
    QCOMPARE(connected.count(), 1);
    QVERIFY(server->IsConnected());

    MemStream join = fake->messages[2].Fields();
    QString room, user;
    qint32 flag = -1, status = 0;
    QVERIFY(join.Read(room) && join.Read(flag));
    QCOMPARE(room, QString("lobby"));
    QCOMPARE(flag, 0);
    QVERIFY(fake->messages[3].Fields().Read(status));
    QCOMPARE(status, 1);
    QVERIFY(fake->messages[4].Fields().Read(user));
    QCOMPARE(user, QString("bob"));
    QVERIFY(fake->messages[5].Fields().Read(user));
    QCOMPARE(user, QString("carol"));
    QVERIFY(Settings::IsYes(ServerSettings::acceptRoomList));
    QVERIFY(User("carol").HasItem(ServerTypes::userAddressRequest));
}

void ConnectionTest::failedConnectionReportsSocketErrorWithoutRetry()
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    server->SetServerAddressForTesting("127.0.0.1", closedPort);
    QSignalSpy failed(server.get(), &Server::ConnectionFailed);
    server->Connect();
    QVERIFY(failed.wait(5000));
    QCOMPARE(failed.first().first().toString(), QString("socket error"));
    QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
    QVERIFY(!server->IsAbruptlyDisconnected());

    server->AttemptReconnect();
    QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
}

void ConnectionTest::refusedLoginEndsRetries()
{
    QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    QSignalSpy disconnected(server.get(), &Server::Disconnected);
    fake->CloseClient();
    QVERIFY(disconnected.wait(5000));
    QVERIFY(server->IsAbruptlyDisconnected());

    fake->SetLoginReply(FakeCentralServer::RefuseLogin, "INVALIDPASS");
    QSignalSpy failed(server.get(), &Server::ConnectionFailed);
    server->AttemptReconnect();
    QVERIFY(failed.wait(5000));
    QCOMPARE(failed.first().first().toString(), QString("INVALIDPASS"));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(fake->clientCount, 2);

    server->AttemptReconnect();
    QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
}

void ConnectionTest::stopsReadingOnceRefusalClosedLink()
{
    fake->SetLoginReply(FakeCentralServer::NoLoginReply);
    server->Connect();
    QVERIFY(fake->WaitForMessages(1));
    QSignalSpy admin(server.get(), &Server::AdminMessage);
    QSignalSpy failed(server.get(), &Server::ConnectionFailed);

    QByteArray arrived =
        FakeCentralServer::Frame(FakeCentralServer::Body(1, false, QString("no"))) +
        FakeCentralServer::Frame(FakeCentralServer::Body(66, QString("late")));
    QBuffer source(&arrived);
    source.open(QIODevice::ReadOnly);
    server->ReadFrames(source);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), QString("no"));
    QCOMPARE(admin.count(), 0);
    QVERIFY(source.bytesAvailable() > 0);
}

void ConnectionTest::handlesJoinedSplitShortAndUnknownFrames()
{
    QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    QSignalSpy admin(server.get(), &Server::AdminMessage);

    fake->SendRaw(FakeCentralServer::Frame(FakeCentralServer::Body(66, QString("one"))) +
                  FakeCentralServer::Frame(FakeCentralServer::Body(41, QString("relogged"))) +
                  FakeCentralServer::Frame(QByteArray()) + FakeCentralServer::Frame("\x42\x00") +
                  FakeCentralServer::Frame(FakeCentralServer::Body(66, QString("two"))));
    QTRY_COMPARE_WITH_TIMEOUT(admin.count(), 2, 5000);
    QCOMPARE(admin[0].first().toString(), QString("one"));
    QCOMPARE(admin[1].first().toString(), QString("two"));

    // A frame that arrives one byte per read is handled once, when its last byte is in.
    const QByteArray frame = FakeCentralServer::Frame(FakeCentralServer::Body(66, QString("3")));
    FeedByteByByte(*server, frame.left(frame.size() - 1));
    QCOMPARE(admin.count(), 2);
    FeedByteByByte(*server, frame.right(1) + frame);
    QCOMPARE(admin.count(), 4);
    QCOMPARE(admin[3].first().toString(), QString("3"));
    QVERIFY(server->IsConnected());
}

void ConnectionTest::growsReceiveBufferForLargeFrame()
{
    QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    QSignalSpy admin(server.get(), &Server::AdminMessage);
    const QString large(990, QChar('x'));
    // A handler that leaves bytes unread leaves no trace in the next frame.
    fake->SendRaw(FakeCentralServer::Frame(FakeCentralServer::Body(66, large)) +
                  FakeCentralServer::Frame(FakeCentralServer::Body(66, QString("a"), large)) +
                  FakeCentralServer::Frame(FakeCentralServer::Body(66, QString("b"))));
    QTRY_COMPARE_WITH_TIMEOUT(admin.count(), 3, 5000);
    QCOMPARE(admin[0].first().toString(), large);
    QCOMPARE(admin[1].first().toString(), QString("a"));
    QCOMPARE(admin[2].first().toString(), QString("b"));
}

void ConnectionTest::dropsOversizedFrameAndReconnectsOnTick()
{
    QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    User("bob").NewItem(ServerTypes::isOnline);
    User("eve").NewItem(ServerTypes::isOnline);
    QSignalSpy disconnected(server.get(), &Server::Disconnected);
    QSignalSpy failed(server.get(), &Server::ConnectionFailed);

    fake->SendRaw(QByteArray::fromHex("FFFFFF7F") + QByteArray(64, 'z'));
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 5000);
    QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
    QVERIFY(g(ServerTypes::user).Connected(ServerTypes::isOnline).Empty());
    QVERIFY(server->IsAbruptlyDisconnected());

    fake->ClearMessages();
    server->AttemptReconnect();
    QVERIFY(fake->WaitForCode(1));
    QTRY_VERIFY_WITH_TIMEOUT(server->IsConnected(), 5000);
    QCOMPARE(fake->clientCount, 2);
    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(failed.count(), 0);
}

void ConnectionTest::lostLinkClearsOnlineMarksOnce()
{
    QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    User("bob").NewItem(ServerTypes::isOnline);
    QSignalSpy disconnected(server.get(), &Server::Disconnected);
    fake->CloseClient();
    QVERIFY(disconnected.wait(5000));
    QVERIFY(User("bob").HasItem(ServerTypes::isOnline).IsNull());

    // The heartbeat is sent only while logged in.
    fake->ClearMessages();
    server->EveryFiveMinutes();
    QVERIFY(!fake->WaitForMessages(1, 200));
    QCOMPARE(disconnected.count(), 1);
}

void ConnectionTest::userDisconnectDoesNotReconnect()
{
    QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    QSignalSpy disconnected(server.get(), &Server::Disconnected);
    QSignalSpy failed(server.get(), &Server::ConnectionFailed);
    server->Disconnect();
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!server->IsAbruptlyDisconnected());

    server->AttemptReconnect();
    QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
    QVERIFY(!disconnected.wait(200));
    QCOMPARE(failed.count(), 0);

    // Connect() starts a new attempt at once.
    server->Connect();
    QTRY_VERIFY_WITH_TIMEOUT(server->IsConnected(), 5000);
    QCOMPARE(fake->clientCount, 2);
}

void ConnectionTest::ignoresMessagesWhileOffAndLoginReplyWhileLoggedIn()
{
    QSignalSpy admin(server.get(), &Server::AdminMessage);
    MemStream body;
    body.Write(QString("ignored"));
    server->HandleMessage(66, body);
    QCOMPARE(admin.count(), 0);

    QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    QSignalSpy connected(server.get(), &Server::Connected);
    fake->Send(1, true, QString("again"), quint32(0), QString(), false);
    fake->Send(66, QString("after"));
    QVERIFY(admin.wait(5000));
    QCOMPARE(connected.count(), 0);
}

void ConnectionTest::namesMessageCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("login") << 1 << "SM_LOGIN";
    QTest::newRow("last named") << 1002 << "SE_CANT_CREATE_ROOM";
    QTest::newRow("heartbeat") << 32 << "SM_HEARTBEAT";
    QTest::newRow("zero") << 0 << "";
    QTest::newRow("gap") << 4 << "";
    QTest::newRow("handled without name") << 1003 << "";
    QTest::newRow("negative") << -1 << "";
    QTest::newRow("beyond") << 5000 << "";
}

void ConnectionTest::namesMessageCodes()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QCOMPARE(Server::MessageCodeToString(code), name);
    int named = 0;
    for (int any = -10; any < 2000; ++any)
        named += Server::MessageCodeToString(any).isEmpty() ? 0 : 1;
    QCOMPARE(named, 107);
}

void ConnectionTest::settlesUpnpSettingAfterLoad()
{
    server->DataLoaded();
    QVERIFY(Settings::IsYes(ServerSettings::useUpnp));
    Settings::Set(ServerSettings::useUpnp, "no");
    server->DataLoaded();
    QCOMPARE(Settings::GetText(ServerSettings::useUpnp), QString("no"));
}

void ConnectionTest::mapsListeningPortsAtFirstLoginAndEveryHour()
{
    FakeInternetGateway gateway;
    Settings::Set(ServerSettings::useUpnp, "yes");
    Settings::Set(ServerSettings::listeningPort, "2234");
    Settings::Set(ServerSettings::obfuscatedListeningPort, "2235");
    portForwarder->InitFromDescriptionForTesting(gateway.DescriptionUrl());
    const auto mappedPorts = [&gateway] {
        QStringList ports;
        for (const GatewayRequest& request : gateway.requests)
            if (request.action == "AddPortMapping")
                ports << request.arguments.value("NewExternalPort");
        return ports;
    };

    QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    QTRY_COMPARE_WITH_TIMEOUT(mappedPorts(), (QStringList{"2234", "2235"}), 5000);

    Settings::Set(ServerSettings::obfuscatedListeningPort, "0");
    server->RenewPortMapping();
    QTRY_COMPARE_WITH_TIMEOUT(mappedPorts(), (QStringList{"2234", "2235", "2234"}), 5000);
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
