#include <list>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

#include <QSignalSpy>
#include <QtTest>

#include "Data.h"
#include "FakeCentralServer.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "ServerTypes.h"
#include "Settings.h"

namespace {
using ServerBytes::Fields;
using ServerBytes::Message;
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

// "address:port:obfuscated port" of a user.
QString PeerAddress(ItemPtr user)
{
    using namespace PeerTypes;
    return Attribute(user, userAddress) + ":" + Attribute(user, userPort) + ":" +
           Attribute(user, userObfuscatedPort);
}

// A user's online, away and privileged marks, then the status stamp: unset, "earlier" or new.
QString Status(const char* name)
{
    QStringList parts;
    for (const char* mark : {isOnline, isAway, isPrivileged})
        if (User(name).IsConnected(mark))
            parts << mark;
    const QString stamp = Attribute(User(name), lastOnlineStatusChange);
    parts << (stamp.isEmpty() ? "-" : stamp == "earlier" ? stamp : "new");
    return parts.join(' ');
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
struct ConnectionLog
{
    ConnectionLog()
    {
        for (int index : {0, 1})
            types[index]->connected.Add(handlers[index] = new Handler(this, &ConnectionLog::Note));
    }
    ~ConnectionLog()
    {
        for (int index : {0, 1})
            types[index]->connected.Discard(handlers[index]);
    }
    void Note(ConnectionInfo info)
    {
        if (info.to.GetType() != types[0])
            entries.append(QString::fromStdString(info.to.GetType()->name));
    }

    QStringList entries;
    Type* const types[2] = {d.GetType(PeerTypes::peerConnectionRequest), d.GetType(user)};
    using Handler = EventHandler<ConnectionLog, ConnectionInfo>;
    Handler* handlers[2] = {};
};
} // namespace

class ServerIncomingTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeCentralServer> fake;
    std::unique_ptr<Server> server;

    bool Settle() { return ServerTestSetup::Settle(*server, *fake); }

private slots:
    void init()
    {
        qRegisterMetaType<UserStats>();
        qRegisterMetaType<time_t>("time_t");
        server = std::make_unique<Server>();
        fake = std::make_unique<FakeCentralServer>();
        ServerTestSetup::DeclareTypes(*server);
        ServerTestSetup::ResetStore();
        // The login tests script the reply before logging in.
        if (!QByteArray(QTest::currentTestFunction()).startsWith("login"))
            QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    }

    void loginReplySetsSupporterOrGivesReason()
    {
        for (bool supporter : {true, false})
        {
            fake->SetSupporter(supporter);
            QVERIFY(ServerTestSetup::LogIn(*server, *fake));
            QCOMPARE(Settings::GetText(ServerSettings::isSupporter), supporter ? "yes" : "");
            server->Disconnect();
        }
        fake->SetLoginReply(FakeCentralServer::RefuseLogin, "INVALIDPASS");
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        server->Connect();
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.first().at(0).toString(), QString("INVALIDPASS"));
        QCOMPARE(server->GetConnectionState(), int(Server::StateOff));
    }

    void addUserReplyMarksOnlyKnownUsers()
    {
        QSignalSpy response(server.get(), &Server::AddUserResponse);
        fake->Send(5, QString("ann"), false, qint32(2));
        fake->Send(5, QString("bea"), true, qint32(2), UserStats(), QString("NL"));
        MakeUser("cy").NewItem(isOnline);
        fake->Send(5, QString("cy"), true, qint32(0), UserStats());
        QTRY_COMPARE(response.count(), 3);
        QCOMPARE(response.at(0), (QVariantList{QString("ann"), false}));
        QVERIFY(User("ann").IsNull());
        QCOMPARE(Status("bea") + " " + Attribute(User("bea"), countryCode), "is_online new NL");
        QCOMPARE(Status("cy"), QString("new"));
    }

    void userStatusChangesOnlyWhatMoved()
    {
        fake->Send(7, QString("bob"), qint32(1), false);
        QVERIFY(Settle());
        QCOMPARE(Status("bob"), QString("is_online is_away new"));

        // A stamp that any new time would replace, even within the same second.
        User("bob").Connect(d.GetType(lastOnlineStatusChange)->GetItem("earlier"));
        User("bob").NewItem(isPrivileged);
        fake->Send(7, QString("bob"), qint32(1), false);
        QVERIFY(Settle());
        QCOMPARE(Status("bob"), QString("is_online is_away is_privileged earlier"));
        fake->Send(7, QString("bob"), qint32(2), false);
        QVERIFY(Settle());
        QCOMPARE(Status("bob"), QString("is_online is_privileged earlier"));

        fake->Send(7, QString("bob"), qint32(0), false);
        // Already offline: no stamp, but the privileged flag still counts.
        fake->Send(7, QString("cyd"), qint32(-1), true);
        QVERIFY(Settle());
        QCOMPARE(Status("bob"), QString("is_privileged new"));
        QCOMPARE(Status("cyd"), QString("is_privileged -"));

        // The privileged list only adds marks.
        fake->Send(69, std::list<QString>{"dora", "cyd", "dora"});
        QVERIFY(Settle());
        QCOMPARE(Status("dora"), QString("is_privileged -"));
        QCOMPARE(g(user).Connected(isPrivileged).Size(), size_t(3));
    }

    void privateMessagesAreAckedAndMayAskForPrivileges()
    {
        MakeUser("ann");
        MakeUser("foe").NewItem(isIgnored);
        QSignalSpy chats(server.get(), &Server::PrivateChat);
        fake->Send(22, qint32(11), qint32(17), QString("ann"), QString("7 privileges"), true);
        fake->Send(22, qint32(12), qint32(0), QString("foe"), QString("hi"), false);
        fake->Send(22, qint32(13), qint32(0), QString("gus"), QString("Privileges granted"), false);
        QTRY_COMPARE(fake->MessagesWithCode(23).size(), 3);
        // Only the lower-case word asks for our privileges, right after the first ack.
        QList<QByteArray> answers;
        for (const ServerMessage& message : fake->messages)
            if (message.code == 23 || message.code == 92)
                answers << QByteArray::number(message.code) + message.fields;
        QCOMPARE(answers,
                 (QList<QByteArray>{"23" + Fields(qint32(11)), "92", "23" + Fields(qint32(12)),
                                    "23" + Fields(qint32(13))}));
        QCOMPARE(chats.count(), 2);
        const QVariant time = QVariant::fromValue(time_t(17));
        QCOMPARE(chats.first(), (QVariantList{"ann", "7 privileges", time, true}));
        QCOMPARE(chats.last().first(), QVariant("gus"));
        QVERIFY(User("gus").IsNull());

        // The answer: supporters whose privileges ran out stay supporters.
        Settings::Set(ServerSettings::isSupporter, "no");
        QSignalSpy status(server.get(), &Server::ReceivedOwnPrivilegesStatus);
        const std::pair<qint32, QString> steps[] = {{0, "0 no"}, {3600, "3600 yes"}, {0, "0 yes"}};
        for (const auto& [seconds, stored] : steps)
        {
            fake->Send(92, seconds);
            QVERIFY(status.wait(5000));
            QCOMPARE(status.takeFirst().at(0).toInt(), seconds);
            QCOMPARE(Settings::GetText(ServerSettings::privilegesTimeLeft) + " " +
                         Settings::GetText(ServerSettings::isSupporter),
                     stored);
        }
    }

    void peerAddressStoresPortsAndAnswersRequest()
    {
        // Only flag 1 obfuscates; the port is little-endian, unsigned, and lost when cut short.
        const QByteArray port("\x39\xF0", 2);
        const std::tuple<const char*, qint32, QByteArray> cases[] = {
            {"on", 1, port}, {"other", 2, port}, {"cut", 1, port.left(1)}};
        for (const auto& [name, flag, bytes] : cases)
        {
            MakeUser(name).NewItem(userAddressRequest);
            fake->SendRaw(
                Message(3, Fields(QString(name), quint32(7), qint32(2234), flag) + bytes));
        }
        QVERIFY(Settle());
        QVERIFY(g(userAddressRequest).GetItems(user).Empty());
        QCOMPARE(PeerAddress(User("on")) + " " + PeerAddress(User("other")) + " " +
                     PeerAddress(User("cut")),
                 QString("7:2234:61497 7:2234:0 7:2234:0"));
    }

    void connectRequestFillsThePathInOrder()
    {
        Type* requests = d.GetType(PeerTypes::peerConnectionRequest);
        ConnectionLog log;
        fake->Send(18, QString("ida"), QString("P"), quint32(3232235778u), qint32(2240),
                   quint32(31), true, qint32(1), qint32(50000));
        QTRY_COMPARE(requests->ItemCount(), size_t(1));
        QCOMPARE(log.entries,
                 (QStringList{PeerTypes::userAddress, PeerTypes::userPort,
                              PeerTypes::userObfuscatedPort, PeerTypes::peerConnectionRequestId,
                              PeerTypes::peerConnectionType, user, isPrivileged}));
        ItemPtr first = requests->GetItems(), ida = User("ida");
        QCOMPARE(Attribute(first, PeerTypes::peerConnectionRequestId) + " " +
                     Attribute(first, PeerTypes::peerConnectionType) + " " + Attribute(first, user),
                 QString("31 P ida"));
        QCOMPARE(PeerAddress(ida), QString("3232235778:2240:50000"));

        // A second request from the same user is a request of its own; the address is replaced.
        fake->Send(18, QString("ida"), QString("F"), quint32(16909060), qint32(2241), quint32(32),
                   false, qint32(0));
        QTRY_COMPARE(requests->ItemCount(), size_t(2));
        ItemPtr secondId = d.GetType(PeerTypes::peerConnectionRequestId)->HasItem("32");
        QCOMPARE(secondId[PeerTypes::peerConnectionRequest][user], ida);
        QCOMPARE(PeerAddress(ida) + " " + Status("ida"),
                 QString("16909060:2241:0 is_privileged -"));
    }

    void possibleParentsKeepCompleteEntries_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<int>("entries");
        const QByteArray first = Fields(QString("p1"), quint32(1), qint32(10));
        const QByteArray second = Fields(QString("p2"), quint32(2), qint32(20));
        QTest::newRow("second cut short") << Fields(qint32(2)) + first + second.left(10) << 1;
        QTest::newRow("negative count") << Fields(qint32(-1)) + first + second << 2;
        QTest::newRow("count over limit") << Fields(qint32(131073)) + first << 0;
        QTest::newRow("no count") << QByteArray() << 0;
    }

    void possibleParentsKeepCompleteEntries()
    {
        QFETCH(QByteArray, fields);
        QFETCH(int, entries);
        std::optional<PossibleParents> parents;
        connect(server.get(), &Server::DNetPossibleParents, [&](auto& list) { parents = list; });
        fake->SendRaw(Message(102, fields));
        QTRY_VERIFY(parents);
        QCOMPARE(int(parents->size()), entries);
        if (entries > 0)
            QVERIFY(parents->front() == std::make_pair(QString("p1"), TCPAddress(1, 10)));
    }

    void searchCorrelationsReplaceEarlierOnes()
    {
        // As searches for these texts leave them.
        for (const char* text : {"rock", "jazz"})
            d.GetType(PeerTypes::searchRequestText)->GetItem(Value(text));
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

        // A text nobody searched for is announced but not kept.
        QVERIFY(answer("unasked", Fields(qint32(1), QString("noise"), qint32(1))));
        QVERIFY(
            ItemPtr(d.GetType(PeerTypes::searchRequestText)->HasItem(Value("unasked"))).IsNull());
        QCOMPARE(d.GetType(PeerTypes::searchCorrelation)->ItemCount(), size_t(1));
    }

    void statsAndCutOrUnknownMessages()
    {
        QSignalSpy stats(server.get(), &Server::ReceivedUserStats);
        QSignalSpy chats(server.get(), &Server::PrivateChat);
        UserStats whole;
        whole.m_averageSpeed = 51200;
        whole.m_sharedFileCount = 812;
        fake->Send(36, QString("kim"), whole);
        // Unknown codes are skipped and cut fields keep starting values; later messages count.
        fake->Send(41, QString("ymir"), qint32(1), false);
        fake->SendRaw(Message(36, Fields(QString("lea")) + QByteArray("\x10\x27", 2)));
        fake->Send(22, qint32(8), qint32(100), QString("lea"), QString("hello"));
        fake->Send(18, QString("max"), QString("F"), quint32(1), qint32(2), quint32(9));
        QVERIFY(Settle());
        QVERIFY(User("ymir").IsNull());

        QCOMPARE(stats.count(), 2);
        QCOMPARE(stats.last().at(1).value<UserStats>().m_averageSpeed, 0);
        QCOMPARE(Attribute(User("kim"), averageDownloadSpeed) + " " +
                     Attribute(User("lea"), averageDownloadSpeed),
                 QString("51200 0"));
        QCOMPARE(chats.count(), 1);
        QCOMPARE(chats.first().at(3).toBool(), false);
        QVERIFY(fake->WaitForCode(23));

        ItemPtr id = d.GetType(PeerTypes::peerConnectionRequestId)->HasItem("9");
        QCOMPARE(id[PeerTypes::peerConnectionRequest][user], User("max"));
        QCOMPARE(PeerAddress(User("max")) + " " + Status("max"), QString("1:2:0 -"));
    }

    void ignoresMessagesWithoutTheirUserName_data()
    {
        QTest::addColumn<qint32>("code");
        QTest::addColumn<QByteArray>("fields"); // what the message holds
        QTest::addColumn<QByteArray>("ack");    // the fields of the acknowledgement, if any
        QTest::newRow("add-user reply") << 5 << QByteArray() << QByteArray();
        QTest::newRow("status") << 7 << QByteArray() << QByteArray();
        QTest::newRow("statistics") << 36 << QByteArray() << QByteArray();
        QTest::newRow("statistics, name cut short")
            << 36 << Fields(QString("kim")).chopped(1) << QByteArray();
        QTest::newRow("peer address") << 3 << QByteArray() << QByteArray();
        QTest::newRow("connect request") << 18 << QByteArray() << QByteArray();
        QTest::newRow("relayed search") << 26 << QByteArray() << QByteArray();
        QTest::newRow("private message, still acknowledged")
            << 22 << Fields(qint32(8), qint32(100)) << Fields(qint32(8));
        QTest::newRow("private message without its id") << 22 << QByteArray() << QByteArray();
    }

    void ignoresMessagesWithoutTheirUserName()
    {
        QFETCH(qint32, code);
        QFETCH(QByteArray, fields);
        QFETCH(QByteArray, ack);
        int reported = 0;
        const auto count = [&reported] { ++reported; };
        connect(server.get(), &Server::AddUserResponse, this, count);
        connect(server.get(), &Server::ReceivedUserStats, this, count);
        connect(server.get(), &Server::DirectFileSearch, this, count);
        connect(server.get(), &Server::PrivateChat, this, count);
        ServerTestSetup::ServerLog log;
        fake->SendRaw(Message(code, fields));
        QVERIFY(Settle());
        // The link keeps its order: once this request arrives, any acknowledgement has too.
        server->GetOwnPrivilegesStatus();
        QVERIFY(fake->WaitForCode(92));

        QCOMPARE(d.GetType(user)->ItemCount(), size_t(0));
        QCOMPARE(d.GetType(PeerTypes::peerConnectionRequest)->ItemCount(), size_t(0));
        QCOMPARE(reported, 0);
        QByteArray acks;
        for (const ServerMessage& message : fake->MessagesWithCode(23))
            acks += message.fields;
        QCOMPARE(acks, ack);
        const QString line = code == 22 ? "sender" : "user";
        QCOMPARE(log.lines,
                 QStringList("Ignored a server message too short to hold its " + line + " name."));
    }

    void relaysSearchesAndTreeMessagesAsSignals()
    {
        QStringList seen;
        const auto note = [&seen](const QString& what) { seen << what; };
        connect(server.get(), &Server::DirectFileSearch, this,
                [&](QString user, quint32 token, QString query) {
                    note(QString("search %1 %2 %3").arg(user).arg(token).arg(query));
                });
        connect(server.get(), &Server::DNetParentMinSpeed, this,
                [&](int speed) { note(QString("speed %1").arg(speed)); });
        connect(server.get(), &Server::DNetParentSpeedConnectionRatio, this,
                [&](int ratio) { note(QString("ratio %1").arg(ratio)); });
        connect(server.get(), &Server::WishListWait, this,
                [&](uint wait) { note(QString("wait %1").arg(wait)); });
        connect(server.get(), &Server::DNetDeliveryReport, this,
                [&](int report) { note(QString("report %1").arg(report)); });
        connect(server.get(), &Server::DNetReset, this, [&] { note("reset"); });
        connect(server.get(), &Server::IndirectPeerConnectionFailure, this,
                [&](uint token) { note(QString("failed %1").arg(token)); });
        connect(server.get(), &Server::DNetMessage, this, [&](MemStream& message) {
            QString text;
            message.Read(text);
            note("tree " + text);
        });

        fake->Send(26, QString("ann"), quint32(7), QString("jazz"));
        fake->Send(83, qint32(11));
        fake->Send(84, qint32(12));
        fake->Send(104, quint32(600));
        fake->Send(128, qint32(13));
        fake->Send(130);
        fake->Send(1001, quint32(14), QString("ignored"));
        fake->Send(93, QString("inner"));
        QVERIFY(Settle());
        QCOMPARE(seen, (QStringList{"search ann 7 jazz", "speed 11", "ratio 12", "wait 600",
                                    "report 13", "reset", "failed 14", "tree inner"}));
    }
};

QTEST_MAIN(ServerIncomingTest)
#include "tst_incoming.moc"
