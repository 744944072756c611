#include <list>
#include <memory>
#include <utility>
#include <vector>

#include <QSignalSpy>
#include <QtTest>

#include "Data.h"
#include "FakeCentralServer.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "ServerTypes.h"
#include "Settings.h"

namespace {
using namespace ServerTypes;
using PossibleParents = std::list<std::pair<QString, TCPAddress>>;

// Looks the user up without creating the item, so that tests can see whether one was made.
ItemPtr User(const char* name)
{
    return d.GetType(user)->HasItem(name);
}

ItemPtr MakeUser(const char* name)
{
    return d.GetType(user)->GetItem(name);
}

QString Attribute(ItemPtr item, const char* type)
{
    return item[type].AsString();
}

// Message fields without the code in front, to be cut short or appended to.
template <class... Values> QByteArray Fields(const Values&... values)
{
    return FakeCentralServer::Body(0, values...).mid(4);
}

QByteArray Message(qint32 code, const QByteArray& fields)
{
    return FakeCentralServer::Frame(FakeCentralServer::Body(code) + fields);
}

// Related terms of a search text, as related text -> rank.
QMap<QString, QString> Correlations(const char* text)
{
    QMap<QString, QString> found;
    ItemPtr search = d.GetType(PeerTypes::searchRequestText)->HasItem(text);
    for (ItemPtr entry : search.GetItems(PeerTypes::searchCorrelation))
        found[Attribute(entry, PeerTypes::correlationText)] =
            Attribute(entry, PeerTypes::correlationRank);
    return found;
}

// While it lives, records in order what requests and users are connected to, requests aside.
class ConnectionLog
{
public:
    ConnectionLog()
    {
        for (Type* type : types)
            type->connected.Add(recorders.emplace_back(new Recorder(&entries)));
    }
    ~ConnectionLog()
    {
        for (size_t index = 0; index < recorders.size(); ++index)
            types[index]->connected.Discard(recorders[index]);
    }

    QStringList entries;

private:
    struct Recorder : EventHandlerBase<ConnectionInfo>
    {
        explicit Recorder(QStringList* log) : log(log) {}
        void Handle(ConnectionInfo info) override
        {
            const QString to = QString::fromStdString(info.to.GetType()->name);
            if (to != PeerTypes::peerConnectionRequest)
                log->append(to);
        }
        QStringList* log;
    };
    Type* const types[2] = {d.GetType(PeerTypes::peerConnectionRequest), d.GetType(user)};
    std::vector<Recorder*> recorders;
};
} // namespace

class ServerIncomingTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeCentralServer> fake;
    std::unique_ptr<Server> server;

    bool Start() { return ServerTestSetup::LogIn(*server, *fake); }

    // Messages are handled in order: once this one is through, so is every one before it.
    bool Settle()
    {
        QSignalSpy admin(server.get(), &Server::AdminMessage);
        fake->Send(66, QString("settled"));
        return admin.wait(5000);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<UserStats>();
        qRegisterMetaType<time_t>("time_t");
    }

    void init()
    {
        fake = std::make_unique<FakeCentralServer>();
        server = std::make_unique<Server>();
        ServerTestSetup::DeclareTypes(*server);
        ServerTestSetup::ResetStore();
    }

    void cleanup()
    {
        server.reset();
        fake.reset();
    }

    void loginReplySetsThenClearsSupporter()
    {
        fake->SetSupporter(true);
        QVERIFY(Start());
        QCOMPARE(server->GetConnectionState(), int(Server::StateLoggedIn));
        QCOMPARE(Settings::GetText(ServerSettings::isSupporter), QString("yes"));
        server->Disconnect();
        fake->SetSupporter(false);
        QVERIFY(Start());
        QCOMPARE(Settings::GetText(ServerSettings::isSupporter), QString());
    }

    void refusedLoginReportsServerReason()
    {
        fake->SetLoginReply(FakeCentralServer::RefuseLogin, "INVALIDPASS");
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        QSignalSpy connected(server.get(), &Server::Connected);
        server->SetServerAddressForTesting("127.0.0.1", fake->Port());
        server->Connect();
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.first().at(0).toString(), QString("INVALIDPASS"));
        QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
        QCOMPARE(connected.count(), 0);
    }

    void addUserReplyMarksOnlyKnownUsers()
    {
        QVERIFY(Start());
        QSignalSpy response(server.get(), &Server::AddUserResponse);
        fake->Send(5, QString("ann"), false, qint32(2));
        fake->Send(5, QString("bea"), true, qint32(2), UserStats(), QString("NL"));
        MakeUser("cy").NewItem(isOnline);
        fake->Send(5, QString("cy"), true, qint32(0), UserStats());
        QTRY_COMPARE(response.count(), 3);
        QCOMPARE(response.at(0), (QVariantList{QString("ann"), false}));
        QCOMPARE(response.at(1), (QVariantList{QString("bea"), true}));
        QVERIFY(User("ann").IsNull());
        QVERIFY(User("bea").IsConnected(isOnline));
        QCOMPARE(Attribute(User("bea"), countryCode), QString("NL"));
        QVERIFY(!User("cy").IsConnected(isOnline));
        for (const char* name : {"bea", "cy"})
            QVERIFY(!Attribute(User(name), lastOnlineStatusChange).isEmpty());
    }

    void userStatusChangesOnlyWhatMoved()
    {
        QVERIFY(Start());
        fake->Send(7, QString("bob"), qint32(1), false);
        QTRY_VERIFY(!User("bob").IsNull() && User("bob").IsConnected(isAway));
        ItemPtr bob = User("bob");
        QVERIFY(bob.IsConnected(isOnline));
        QVERIFY(!Attribute(bob, lastOnlineStatusChange).isEmpty());

        // A stamp that any new time would replace, even within the same second.
        bob.Connect(d.GetType(lastOnlineStatusChange)->GetItem("earlier"));
        bob.NewItem(isPrivileged);
        fake->Send(7, QString("bob"), qint32(1), false);
        QVERIFY(Settle());
        QVERIFY(bob.IsConnected(isOnline) && bob.IsConnected(isAway));
        QCOMPARE(Attribute(bob, lastOnlineStatusChange), QString("earlier"));

        fake->Send(7, QString("bob"), qint32(2), false);
        QVERIFY(Settle());
        QVERIFY(bob.IsConnected(isOnline) && !bob.IsConnected(isAway));
        QCOMPARE(Attribute(bob, lastOnlineStatusChange), QString("earlier"));
        QVERIFY(bob.IsConnected(isPrivileged));

        fake->Send(7, QString("bob"), qint32(0), false);
        fake->Send(7, QString("cyd"), qint32(-1), true);
        QVERIFY(Settle());
        QVERIFY(!bob.IsConnected(isOnline) && !bob.IsConnected(isAway));
        QVERIFY(!Attribute(bob, lastOnlineStatusChange).isEmpty());
        QVERIFY(Attribute(bob, lastOnlineStatusChange) != "earlier");
        // Already offline: no change to stamp, but the privileged flag still counts.
        QVERIFY(User("cyd").IsConnected(isPrivileged));
        QVERIFY(Attribute(User("cyd"), lastOnlineStatusChange).isEmpty());
    }

    void userStatsAreStoredAndPassedOnWhole()
    {
        QVERIFY(Start());
        UserStats sent;
        sent.m_averageSpeed = 51200;
        sent.m_value64 = 1LL << 40;
        sent.m_sharedFileCount = 812;
        sent.m_value32 = -4;
        QSignalSpy stats(server.get(), &Server::ReceivedUserStats);
        fake->Send(36, QString("kim"), sent);
        QVERIFY(stats.wait(5000));
        QCOMPARE(stats.first().at(0).toString(), QString("kim"));
        const UserStats got = stats.first().at(1).value<UserStats>();
        QVERIFY(got.m_averageSpeed == 51200 && got.m_value64 == 1LL << 40);
        QVERIFY(got.m_sharedFileCount == 812 && got.m_value32 == -4);
        QCOMPARE(Attribute(User("kim"), averageDownloadSpeed), QString("51200"));
        QCOMPARE(Attribute(User("kim"), sharedFileCount), QString("812"));
    }

    void privilegedListOnlyAddsMarks()
    {
        QVERIFY(Start());
        MakeUser("carl").NewItem(isPrivileged);
        fake->Send(69, std::list<QString>{"dora", "eve", "dora"});
        QVERIFY(Settle());
        QVERIFY(User("dora").IsConnected(isPrivileged) && User("eve").IsConnected(isPrivileged));
        QVERIFY(User("carl").IsConnected(isPrivileged));
        QCOMPARE(g(user).Connected(isPrivileged).Size(), size_t(3));
    }

    void ownPrivilegesStoreTimeAndSupporter()
    {
        QVERIFY(Start());
        Settings::Set(ServerSettings::isSupporter, "no");
        QSignalSpy status(server.get(), &Server::ReceivedOwnPrivilegesStatus);
        for (qint32 seconds : {0, -20, 3600})
        {
            fake->Send(92, seconds);
            QVERIFY(status.wait(5000));
            QCOMPARE(status.takeFirst().at(0).toInt(), seconds);
            QCOMPARE(Settings::GetText(ServerSettings::privilegesTimeLeft),
                     QString::number(seconds));
            QCOMPARE(Settings::GetText(ServerSettings::isSupporter), seconds > 0 ? "yes" : "no");
        }
    }

    void privateMessageIsAcknowledged_data()
    {
        QTest::addColumn<bool>("known");
        QTest::addColumn<bool>("ignored");
        QTest::newRow("known sender") << true << false;
        QTest::newRow("ignored sender") << true << true;
        QTest::newRow("stranger") << false << false;
    }

    void privateMessageIsAcknowledged()
    {
        QFETCH(bool, known);
        QFETCH(bool, ignored);
        QVERIFY(Start());
        if (known && ignored)
            MakeUser("gus").NewItem(isIgnored);
        else if (known)
            MakeUser("gus");
        QSignalSpy chats(server.get(), &Server::PrivateChat);
        fake->Send(22, qint32(4711), qint32(1700000000), QString("gus"), QString("hi"), true);
        QVERIFY(fake->WaitForCode(23));
        QCOMPARE(fake->MessagesWithCode(23).first().fields, Fields(qint32(4711)));
        QCOMPARE(User("gus").IsNull(), !known);
        QCOMPARE(chats.count(), ignored ? 0 : 1);
        if (ignored)
            return;
        const QVariant time = QVariant::fromValue(time_t(1700000000));
        QCOMPARE(chats.first(), (QVariantList{QString("gus"), QString("hi"), time, true}));
    }

    void privateMessageAboutPrivilegesAsksForThem_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("asks");
        QTest::newRow("lower case, mid-text") << "You got 7 days of privileges, enjoy" << true;
        QTest::newRow("capitalised") << "Privileges granted" << false;
    }

    void privateMessageAboutPrivilegesAsksForThem()
    {
        QFETCH(QString, text);
        QFETCH(bool, asks);
        QVERIFY(Start());
        fake->Send(22, qint32(1), qint32(0), QString("server"), text, false);
        fake->Send(22, qint32(2), qint32(0), QString("server"), QString("bye"), false);
        QTRY_COMPARE(fake->MessagesWithCode(23).size(), 2);
        QList<qint32> codes;
        for (qint32 code : fake->Codes())
            if (code == 23 || code == 92)
                codes << code;
        QCOMPARE(codes, asks ? (QList<qint32>{23, 92, 23}) : (QList<qint32>{23, 23}));
    }

    void peerAddressStoresPortsAndAnswersRequest_data()
    {
        QTest::addColumn<qint32>("obfuscation");
        QTest::addColumn<QByteArray>("portBytes");
        QTest::addColumn<QString>("obfuscatedPort");
        QTest::newRow("not obfuscated") << 0 << QByteArray("\xFF\xFF", 2) << "0";
        QTest::newRow("top of range") << 1 << QByteArray("\xFF\xFF", 2) << "65535";
        QTest::newRow("little-endian") << 1 << QByteArray("\x39\x30", 2) << "12345";
        QTest::newRow("other flag") << 2 << QByteArray("\x39\x30", 2) << "0";
        QTest::newRow("port cut short") << 1 << QByteArray("\x39", 1) << "0";
    }

    void peerAddressStoresPortsAndAnswersRequest()
    {
        QFETCH(qint32, obfuscation);
        QFETCH(QByteArray, portBytes);
        QFETCH(QString, obfuscatedPort);
        QVERIFY(Start());
        ItemPtr hal = MakeUser("hal");
        hal.NewItem(userAddressRequest);
        fake->SendRaw(
            Message(3, Fields(QString("hal"), quint32(3232235777u), qint32(2234), obfuscation) +
                           portBytes));
        QTRY_VERIFY(!hal.IsConnected(userAddressRequest));
        QCOMPARE(Attribute(hal, PeerTypes::userAddress), QString("3232235777"));
        QCOMPARE(Attribute(hal, PeerTypes::userPort), QString("2234"));
        QCOMPARE(Attribute(hal, PeerTypes::userObfuscatedPort), obfuscatedPort);
    }

    void connectRequestFillsThePathInOrder()
    {
        QVERIFY(Start());
        Type* requests = d.GetType(PeerTypes::peerConnectionRequest);
        ConnectionLog log;
        fake->Send(18, QString("ida"), QString("P"), quint32(3232235778u), qint32(2240),
                   quint32(31), true, qint32(1), qint32(50000));
        QTRY_COMPARE(requests->ItemCount(), size_t(1));
        QCOMPARE(log.entries,
                 (QStringList{PeerTypes::peerConnectionRequestId, PeerTypes::peerConnectionType,
                              user, PeerTypes::userAddress, PeerTypes::userPort,
                              PeerTypes::userObfuscatedPort, isPrivileged}));
        ItemPtr first = requests->GetItems();
        QCOMPARE(Attribute(first, PeerTypes::peerConnectionRequestId), QString("31"));
        QCOMPARE(Attribute(first, PeerTypes::peerConnectionType), QString("P"));
        ItemPtr ida = User("ida");
        QCOMPARE(first[user], ida);
        QCOMPARE(Attribute(ida, PeerTypes::userAddress), QString("3232235778"));
        QCOMPARE(Attribute(ida, PeerTypes::userObfuscatedPort), QString("50000"));
        QVERIFY(ida.IsConnected(isPrivileged));

        // A second request from the same user is a request of its own; the address is replaced.
        fake->Send(18, QString("ida"), QString("F"), quint32(16909060), qint32(2241), quint32(32),
                   false, qint32(0));
        QTRY_COMPARE(requests->ItemCount(), size_t(2));
        ItemPtr secondId = d.GetType(PeerTypes::peerConnectionRequestId)->HasItem("32");
        QCOMPARE(secondId[PeerTypes::peerConnectionRequest][user], ida);
        QCOMPARE(first[user], ida);
        QCOMPARE(Attribute(ida, PeerTypes::userAddress), QString("16909060"));
        QCOMPARE(Attribute(ida, PeerTypes::userPort), QString("2241"));
        QCOMPARE(Attribute(ida, PeerTypes::userObfuscatedPort), QString("0"));
        QVERIFY(ida.IsConnected(isPrivileged));
    }

    void relaysSignalsWithTheirFields_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QVariantList>("arguments");
        auto row = [](const char* name, qint32 code, const QByteArray& fields, const char* signal,
                      const QVariantList& arguments) {
            QTest::newRow(name) << Message(code, fields) << QByteArray(signal) << arguments;
        };
        row("admin message", 66, Fields(QString("maintenance")), SIGNAL(AdminMessage(QString)),
            {QString("maintenance")});
        row("relayed search", 26, Fields(QString("fay"), quint32(77), QString("jazz")),
            SIGNAL(DirectFileSearch(QString, quint32, QString)),
            {QString("fay"), 77u, QString("jazz")});
        row("relayed search without query", 26, Fields(QString("fay"), quint32(77)),
            SIGNAL(DirectFileSearch(QString, quint32, QString)), {QString("fay"), 77u, QString()});
        row("parent min speed", 83, Fields(qint32(50)), SIGNAL(DNetParentMinSpeed(int)), {50});
        row("parent ratio", 84, Fields(qint32(-3)), SIGNAL(DNetParentSpeedConnectionRatio(int)),
            {-3});
        row("wish-list wait", 104, Fields(quint32(720)), SIGNAL(WishListWait(uint)), {720u});
        row("delivery report", 128, Fields(qint32(9)), SIGNAL(DNetDeliveryReport(int)), {9});
        row("reset", 130, QByteArray(), SIGNAL(DNetReset()), {});
        row("peer unreachable", 1001, Fields(quint32(4000000000u), QString("extra")),
            SIGNAL(IndirectPeerConnectionFailure(uint)), {4000000000u});
        row("peer unreachable, token cut", 1001, QByteArray("\x01\x02", 2),
            SIGNAL(IndirectPeerConnectionFailure(uint)), {0u});
    }

    void relaysSignalsWithTheirFields()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, signal);
        QFETCH(QVariantList, arguments);
        QVERIFY(Start());
        QSignalSpy spy(server.get(), signal.constData());
        fake->SendRaw(message);
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.first(), arguments);
    }

    void possibleParentsKeepCompleteEntries_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<int>("entries");
        const QByteArray first = Fields(QString("p1"), quint32(1), qint32(10));
        const QByteArray second = Fields(QString("p2"), quint32(2), qint32(20));
        QTest::newRow("two") << Fields(qint32(2)) + first + second << 2;
        QTest::newRow("second cut short") << Fields(qint32(2)) + first + second.left(10) << 1;
        QTest::newRow("count over limit") << Fields(qint32(131073)) + first << 0;
        QTest::newRow("negative count") << Fields(qint32(-1)) + first + second << 2;
        QTest::newRow("no count") << QByteArray() << 0;
    }

    void possibleParentsKeepCompleteEntries()
    {
        QFETCH(QByteArray, fields);
        QFETCH(int, entries);
        QVERIFY(Start());
        int calls = 0;
        PossibleParents parents;
        connect(server.get(), &Server::DNetPossibleParents, server.get(),
                [&](PossibleParents& list) {
                    ++calls;
                    parents = list;
                });
        fake->SendRaw(Message(102, fields));
        QTRY_COMPARE(calls, 1);
        QCOMPARE(int(parents.size()), entries);
        if (entries > 0)
            QVERIFY(parents.front() == std::make_pair(QString("p1"), TCPAddress(1, 10)));
    }

    void searchCorrelationsReplaceEarlierOnes()
    {
        QVERIFY(Start());
        QSignalSpy spy(server.get(), &Server::SearchCorrelations);
        auto answer = [&](const QString& text, const QByteArray& list) {
            spy.clear();
            fake->SendRaw(Message(153, Fields(text) + list));
            return spy.wait(5000) && spy.first().at(0).toString() == text;
        };
        QVERIFY(answer("rock",
                       Fields(qint32(2), QString("punk"), qint32(5), QString("metal"), qint32(3))));
        QVERIFY(answer("jazz", Fields(qint32(1), QString("swing"), qint32(7))));
        QCOMPARE(Correlations("rock"), (QMap<QString, QString>{{"metal", "3"}, {"punk", "5"}}));

        QVERIFY(answer("rock", Fields(qint32(1), QString("blues"), qint32(9))));
        QCOMPARE(Correlations("rock"), (QMap<QString, QString>{{"blues", "9"}}));
        QCOMPARE(d.GetType(PeerTypes::searchCorrelation)->ItemCount(), size_t(2));

        QVERIFY(answer("rock", Fields(qint32(0))));
        QVERIFY(Correlations("rock").isEmpty());
        QCOMPARE(Correlations("jazz"), (QMap<QString, QString>{{"swing", "7"}}));
        QVERIFY(answer("jazz", Fields(qint32(131073), QString("bop"), qint32(1))));
        QVERIFY(Correlations("jazz").isEmpty());
    }

    void distributedMessageIsReadByTheReceiver()
    {
        QVERIFY(Start());
        int calls = 0;
        qint32 kind = 0;
        QString text;
        connect(server.get(), &Server::DNetMessage, server.get(), [&](MemStream& message) {
            ++calls;
            message.Read(kind);
            message.Read(text);
        });
        fake->Send(93, qint32(3), QString("search"));
        QTRY_COMPARE(calls, 1);
        QCOMPARE(kind, 3);
        QCOMPARE(text, QString("search"));
    }

    void truncatedMessagesKeepStartingValues()
    {
        QVERIFY(Start());
        QSignalSpy stats(server.get(), &Server::ReceivedUserStats);
        QSignalSpy chats(server.get(), &Server::PrivateChat);
        fake->SendRaw(Message(36, Fields(QString("lea")) + QByteArray("\x10\x27", 2)));
        fake->Send(22, qint32(8), qint32(100), QString("lea"), QString("hello"));
        fake->Send(18, QString("max"), QString("F"), quint32(1), qint32(2), quint32(9));
        fake->Send(5, QString("nia"), true, qint32(2), UserStats());
        QVERIFY(Settle());

        QCOMPARE(stats.count(), 1);
        QCOMPARE(stats.first().at(1).value<UserStats>().m_averageSpeed, 0);
        QCOMPARE(Attribute(User("lea"), averageDownloadSpeed), QString("0"));
        QCOMPARE(Attribute(User("lea"), sharedFileCount), QString("0"));

        QCOMPARE(chats.count(), 1);
        QCOMPARE(chats.first().at(3).toBool(), false);
        QVERIFY(fake->WaitForCode(23));

        ItemPtr request = d.GetType(PeerTypes::peerConnectionRequest)->GetItems();
        QCOMPARE(Attribute(request, PeerTypes::peerConnectionRequestId), QString("9"));
        QCOMPARE(request[user], User("max"));
        QCOMPARE(Attribute(User("max"), PeerTypes::userAddress), QString("1"));
        QCOMPARE(Attribute(User("max"), PeerTypes::userObfuscatedPort), QString("0"));
        QVERIFY(!User("max").IsConnected(isPrivileged));

        QVERIFY(User("nia").IsConnected(isOnline));
        QCOMPARE(Attribute(User("nia"), countryCode), QString());
        QVERIFY(server->IsConnected());
    }

    void unknownCodeChangesNothing()
    {
        QVERIFY(Start());
        fake->Send(41, QString("ymir"), qint32(1), false);
        fake->Send(7, QString("zed"), qint32(2), false);
        QTRY_VERIFY(!User("zed").IsNull() && User("zed").IsConnected(isOnline));
        QVERIFY(User("ymir").IsNull());
        QVERIFY(server->IsConnected());
        QCOMPARE(fake->clientCount, 1);
    }
};

QTEST_MAIN(ServerIncomingTest)
#include "tst_incoming.moc"
