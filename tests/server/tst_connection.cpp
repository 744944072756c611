#include <memory>

#include <QBuffer>
#include <QSignalSpy>
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
using F = FakeCentralServer;

// The first argument of each signal the spy caught, as text.
QStringList Texts(const QSignalSpy& spy)
{
    QStringList texts;
    for (const QList<QVariant>& arguments : spy)
        texts << arguments.first().toString();
    return texts;
}

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
    void init()
    {
        fake = std::make_unique<FakeCentralServer>();
        server = std::make_unique<Server>();
        ServerTestSetup::DeclareTypes(*server);
        ServerTestSetup::ResetStore();
        server->SetServerAddressForTesting("127.0.0.1", fake->Port());
    }

    // The next test's fake replaces this one.
    void cleanup() { server.reset(); }

    void sendsExactLoginBytes();

    void sendsStoredOrDefaultCredentials_data()
    {
        QTest::addColumn<QString>("password");    // null: none stored
        QTest::addColumn<QByteArrayList>("sent"); // user, password, digest
        QTest::newRow("non-ASCII name as UTF-8")
            << "pw" << QByteArrayList{"Zo\xc3\xab", "pw", "5cc6343d9b2396052935a9b2fd9fa385"};
        QTest::newRow("defaults when one is missing")
            << QString()
            << QByteArrayList{"VandrellQT", "BrimstoneHalyardQx",
                              "6bf26e575fa0d12bd803aa2feccfac39"};
    }

    void sendsStoredOrDefaultCredentials()
    {
        QFETCH(QString, password);
        QFETCH(QByteArrayList, sent);
        d.RemoveAllItems();
        Settings::Set(ServerSettings::username, QString::fromUtf8("Zo\xc3\xab"));
        if (!password.isNull())
            Settings::Set(ServerSettings::password, password);
        QVERIFY(SendLogin());
        QCOMPARE(F::Body(1) + fake->messages.first().fields,
                 F::Body(1, sent[0].toStdString(), sent[1].toStdString(), qint32(157),
                         sent[2].toStdString(), qint32(100)));
        QCOMPARE(Settings::GetText(ServerSettings::username), QString::fromUtf8(sent[0]));
    }

    void connectNeedsUserNameAndReportsSocketErrorWithoutRetry()
    {
        d.RemoveAllItems();
        QSignalSpy connecting(server.get(), &Server::Connecting);
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        server->Connect();
        QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
        ServerTestSetup::ResetStore();
        fake.reset(); // nothing listens on its port now
        server->Connect();
        server->Connect();
        QCOMPARE(connecting.count(), 1);
        QVERIFY(failed.wait(5000));
        QCOMPARE(Texts(failed), QStringList{"socket error"});
        QVERIFY(!server->IsAbruptlyDisconnected());
        server->AttemptReconnect();
        QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
    }

    void acceptedLoginRunsFollowUpAfterConnected()
    {
        d.GetType(ServerTypes::room)->GetItem("lobby")->NewItem(ServerTypes::roomAutojoin);
        d.GetType(ServerTypes::room)->GetItem("elsewhere");
        User("bob").NewItem(ServerTypes::isTracked);
        User("carol").NewItem(ServerTypes::userAddressRequest);
        server->SetAvailabilityStatus(false);
        QSignalSpy connected(server.get(), &Server::Connected);
        // Whatever a receiver of Connected() sends goes out before the follow-up.
        connect(server.get(), &Server::Connected, this,
                [this] { server->GetOwnPrivilegesStatus(); });
        QVERIFY(SendLogin());
        // Asked before the login is accepted, so dropped.
        server->EveryFiveMinutes();
        server->SetWaitPort(2234, 2235);
        fake->Send(1, true, QString("hi"), quint32(0), QString(), false);

        QVERIFY(fake->WaitForMessages(6));
        QCOMPARE(connected.count(), 1);
        QByteArrayList sent;
        for (const ServerMessage& message : fake->messages.mid(1))
            sent << F::Body(message.code) + message.fields;
        QCOMPARE(sent, (QByteArrayList{F::Body(92), F::Body(14, QString("lobby"), qint32(0)),
                                       F::Body(28, qint32(1)), F::Body(5, QString("bob")),
                                       F::Body(3, QString("carol"))}));
        QVERIFY(Settings::IsYes(ServerSettings::acceptRoomList));
    }

    void stopsReadingOnceRefusalClosedLink()
    {
        QVERIFY(SendLogin());
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        QByteArray arrived =
            F::Frame(F::Body(1, false, QString("no"))) + F::Frame(F::Body(66, QString("late")));
        QBuffer source(&arrived);
        source.open(QIODevice::ReadOnly);
        server->ReadFrames(source);
        QCOMPARE(Texts(failed), QStringList{"no"});
        QVERIFY(source.bytesAvailable() > 0);
    }

    void reportsFailureOnceInTheStateItHappenedIn_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::newRow("login refused") << "INVALIDPASS";
        QTest::newRow("link lost while connecting") << "socket error";
    }

    // A receiver may open a box whose event loop delivers the socket's close notice before the
    // report returns.
    void reportsFailureOnceInTheStateItHappenedIn()
    {
        QFETCH(QString, reason);
        QVERIFY(SendLogin());
        QList<int> statesSeen;
        connect(server.get(), &Server::ConnectionFailed, this, [&] {
            statesSeen << server->GetConnectionState();
            QMetaObject::invokeMethod(server.get(), "OnSocketClosed");
        });
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        if (reason == "socket error")
            QMetaObject::invokeMethod(server.get(), "OnSocketClosed");
        else
            fake->Send(1, false, reason);
        QTRY_COMPARE_WITH_TIMEOUT(Texts(failed), QStringList{reason}, 5000);
        QCOMPARE(statesSeen, QList<int>{Server::StateConnecting});
        QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
    }

    void closesLinkBeforeReportingFailure_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("login refused") << F::Frame(F::Body(1, false, QString("INVALIDPASS")));
        QTest::newRow("frame too long") << QByteArray("\xff\xff\xff\x7f", 4);
    }

    // A receiver may keep a box open for as long as the user likes: the server must see the
    // link closed meanwhile, not after the box.
    void closesLinkBeforeReportingFailure()
    {
        QFETCH(QByteArray, answer);
        QVERIFY(SendLogin());
        QVERIFY(fake->HasClient());
        bool closedWhileReported = false;
        connect(server.get(), &Server::ConnectionFailed, this, [&] {
            closedWhileReported = QTest::qWaitFor([&] { return !fake->HasClient(); }, 5000);
        });
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        fake->SendRaw(answer);
        QVERIFY(failed.wait(5000));
        QVERIFY(closedWhileReported);
        QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
    }

    void handlesFramesOnlyWhileLoggedIn()
    {
        QSignalSpy admin(server.get(), &Server::AdminMessage);
        MemStream whileOff;
        whileOff.Write(QString("ignored"));
        server->HandleMessage(66, whileOff);
        QVERIFY(ServerTestSetup::LogIn(*server, *fake));
        QSignalSpy connected(server.get(), &Server::Connected);

        // Joined, unknown, short and login frames, and one larger than the receive buffer; a
        // handler that leaves bytes unread leaves no trace in the next frame.
        const QString large(990, QChar('x'));
        fake->SendRaw(F::Frame(F::Body(66, QString("one"))) +
                      F::Frame(F::Body(1, true, QString("again"), quint32(0), QString(), false)) +
                      F::Frame(F::Body(41, QString("relogged"))) + F::Frame(QByteArray()) +
                      F::Frame("\x42\x00") + F::Frame(F::Body(66, large)) +
                      F::Frame(F::Body(66, QString("a"), large)) +
                      F::Frame(F::Body(66, QString("two"))));
        QTRY_COMPARE_WITH_TIMEOUT(Texts(admin), (QStringList{"one", large, "a", "two"}), 5000);
        QCOMPARE(connected.count(), 0);

        // A frame that arrives one byte per read is handled once, when its last byte is in.
        const QByteArray frame = F::Frame(F::Body(66, QString("3")));
        FeedByteByByte(*server, frame.left(frame.size() - 1));
        QCOMPARE(admin.count(), 4);
        FeedByteByByte(*server, frame.right(1) + frame);
        QCOMPARE(Texts(admin).mid(4), (QStringList{"3", "3"}));
        QVERIFY(server->IsConnected());
    }

    void endsLinkOnceAndRetriesOnlyWhenLost_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("refusal"); // of the login at the tick; empty: accepted
        QTest::newRow("frame length 0x7FFFFFFF") << "oversized" << QString();
        QTest::newRow("closed by the server") << "closed" << QString();
        QTest::newRow("next login refused") << "closed" << QString("INVALIDPASS");
        QTest::newRow("user disconnect") << "user" << QString();
    }

    void endsLinkOnceAndRetriesOnlyWhenLost()
    {
        QFETCH(QString, end);
        QFETCH(QString, refusal);
        QVERIFY(ServerTestSetup::LogIn(*server, *fake));
        User("bob").NewItem(ServerTypes::isOnline);
        User("eve").NewItem(ServerTypes::isOnline);
        QSignalSpy disconnected(server.get(), &Server::Disconnected);
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        if (end == "oversized")
            fake->SendRaw(QByteArray::fromHex("FFFFFF7F") + QByteArray(64, 'z'));
        else if (end == "closed")
            fake->CloseClient();
        else
            server->Disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 5000);
        QVERIFY(g(ServerTypes::user).Connected(ServerTypes::isOnline).Empty());
        QCOMPARE(server->IsAbruptlyDisconnected(), end != "user");

        if (!refusal.isEmpty())
        {
            fake->SetLoginReply(F::RefuseLogin, refusal);
            server->AttemptReconnect();
            QVERIFY(failed.wait(5000));
        }
        server->AttemptReconnect();
        if (end == "user" || !refusal.isEmpty())
        {
            // No retry at the tick; Connect() starts a new attempt at once.
            QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
            fake->SetLoginReply(F::AcceptLogin);
            server->Connect();
        }
        QTRY_VERIFY_WITH_TIMEOUT(server->IsConnected(), 5000);
        QCOMPARE(fake->clientCount, refusal.isEmpty() ? 2 : 3);
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(Texts(failed), refusal.isEmpty() ? QStringList() : QStringList{refusal});
    }

    void namesMessageCodes()
    {
        QCOMPARE(Server::MessageCodeToString(1), QString("SM_LOGIN"));
        QCOMPARE(Server::MessageCodeToString(1002), QString("SE_CANT_CREATE_ROOM"));
        // A gap, a code handled without a name, and codes out of range.
        for (int unnamed : {4, 1003, 0, -1, 5000})
            QCOMPARE(Server::MessageCodeToString(unnamed), QString());
        int named = 0;
        for (int any = -10; any < 2000; ++any)
            named += Server::MessageCodeToString(any).isEmpty() ? 0 : 1;
        QCOMPARE(named, 107);
    }

    void mapsListeningPortsAtFirstLoginAndEveryHour()
    {
        FakeInternetGateway gateway;
        // Settled to yes once the store is loaded, unless it is stored.
        server->DataLoaded();
        QVERIFY(Settings::IsYes(ServerSettings::useUpnp));
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
        Settings::Set(ServerSettings::useUpnp, "no");
        server->DataLoaded();
        QCOMPARE(Settings::GetText(ServerSettings::useUpnp), QString("no"));
    }

private:
    // Connects and waits for the login, which the fake leaves unanswered.
    bool SendLogin()
    {
        fake->SetLoginReply(F::NoLoginReply);
        server->Connect();
        return fake->WaitForMessages(1);
    }

    std::unique_ptr<FakeCentralServer> fake;
    std::unique_ptr<Server> server;
};

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

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
