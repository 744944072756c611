#include <list>
#include <memory>
#include <set>

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
using Names = std::list<QString>;
using Numbers = std::list<qint32>;
using NameSet = std::set<QString>;

// Lookups that never create, so that tests can see whether a handler made an item.
ItemPtr Find(const char* type, const QString& value)
{
    return d.GetType(type)->HasItem(Value(value));
}

ItemPtr Make(const char* type, const QString& value)
{
    return d.GetType(type)->GetItem(Value(value));
}

// Items as "value:attribute:...", sorted; "-" for a missing attribute, "" for no value.
QStringList Rows(const ItemSet& items, std::initializer_list<const char*> types = {})
{
    QStringList rows;
    for (ItemPtr item : items)
    {
        rows << item.AsString();
        for (const char* type : types)
            rows.last() += item[type].IsNull() ? ":-" : ":" + item[type].AsString();
    }
    rows.sort();
    return rows;
}

// The client's own marks on a room.
QStringList Marks(const QString& name)
{
    QStringList marks;
    for (const char* mark : {isOwner, isPrivate, isMember, isOperator, inRoom, roomAutojoin})
        if (Find(room, name).IsConnected(mark))
            marks << mark;
    return marks;
}

UserStats Stats(qint32 speed, qint32 files)
{
    UserStats stats;
    stats.m_averageSpeed = speed;
    stats.m_sharedFileCount = files;
    return stats;
}
} // namespace

class ServerRoomsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeCentralServer> fake;
    std::unique_ptr<Server> server;

    bool Settle() { return ServerTestSetup::Settle(*server, *fake); }

private slots:
    void init()
    {
        server = std::make_unique<Server>();
        fake = std::make_unique<FakeCentralServer>();
        ServerTestSetup::DeclareTypes(*server);
        ServerTestSetup::ResetStore();
        QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    }

    void ignoresMessagesWithoutTheirRoomOrUserName_data()
    {
        QTest::addColumn<qint32>("code");
        QTest::addColumn<QByteArray>("fields"); // what the message holds
        QTest::addColumn<QString>("missing");
        const QByteArray lounge = Fields(QString("lounge"));
        for (qint32 code : {13, 14, 15, 16, 17, 113, 114, 1003, 133, 134, 139, 140, 145, 146, 148})
            QTest::addRow("code %d without its room", code) << code << QByteArray() << "room";
        for (qint32 code : {13, 16, 17, 114, 134, 135, 143, 144})
            QTest::addRow("code %d without its user", code) << code << lounge << "user";
        QTest::newRow("room name cut short") << 139 << lounge.chopped(1) << "room";
    }

    void ignoresMessagesWithoutTheirRoomOrUserName()
    {
        QFETCH(qint32, code);
        QFETCH(QByteArray, fields);
        QFETCH(QString, missing);
        QSignalSpy chat(server.get(), &Server::RoomChat);
        ServerTestSetup::ServerLog log;
        fake->SendRaw(Message(code, fields));
        QVERIFY(Settle());

        QCOMPARE(d.GetType(room)->ItemCount(), size_t(0));
        QCOMPARE(d.GetType(user)->ItemCount(), size_t(0));
        QCOMPARE(d.GetType(roomTicker)->ItemCount(), size_t(0));
        QCOMPARE(chat.count(), 0);
        // A join request for the room "" is what acting on the name would send.
        QVERIFY(fake->MessagesWithCode(14).isEmpty());
        QCOMPARE(log.lines, QStringList("Ignored a server message too short to hold its " +
                                        missing + " name."));
    }

    void roomListCountsRoomsAndSetsOwnRoles()
    {
        // The login asked for the list that follows it; this one comes unasked.
        Settings::Set(ServerSettings::acceptRoomList, "no");
        Make(room, "known");
        fake->Send(64, Names{"known", "fresh"}, Numbers{5, 7});
        QVERIFY(Settle());
        QCOMPARE(Rows(g(room), {userCount}), QStringList{"known:5"});
        server->GetRoomList();
        fake->Send(64, Names{"known", "fresh"}, Numbers{6, 8});
        QTRY_COMPARE(Rows(g(room), {userCount}), (QStringList{"fresh:8", "known:6"}));
        QCOMPARE(Settings::GetText(ServerSettings::acceptRoomList), QString("no"));

        for (const char* mark : {isOwner, isPrivate, isMember, isOperator})
            Make(room, "old").NewItem(mark);
        fake->Send(64, Names{}, Numbers{}, Names{"mine"}, Numbers{3}, Names{"theirs"}, Numbers{4},
                   NameSet{"theirs", "mine"});
        QTRY_COMPARE(Rows(g(room).Connected(isPrivate), {userCount}),
                     (QStringList{"mine:3", "old:-", "theirs:4"}));
        // An owned room is a member room too, though the member list leaves it out.
        QCOMPARE(Marks("mine"), (QStringList{isOwner, isPrivate, isMember}));
        QCOMPARE(Marks("theirs"), (QStringList{isPrivate, isMember, isOperator}));
        // Roles no longer listed go; the list never takes private or operator marks away.
        QCOMPARE(Marks("old"), (QStringList{isPrivate, isOperator}));
    }

    void joinReplyFillsUsersStatsAndRoles_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<QString>("users");
        QTest::addColumn<QString>("roles");
        auto row = [](const char* name, QByteArray tail, const char* users, const char* roles) {
            QTest::newRow(name) << tail << QString(users) << QString(roles);
        };
        const auto a = Fields(Stats(10, 1)), b = Fields(Stats(20, 2)), c = Fields(Stats(30, 3));
        const QByteArray unused = Fields(Numbers{}), xyz = Fields(Names{"X", "Y", "Z"});
        row("private", Fields(3) + a + b + c + unused + xyz + Fields(QString("a"), NameSet{"b"}),
            "a:10:1:X b:20:2:Y c:30:3:Z", "a b");
        row("fewer stats", Fields(2) + a + b + unused + xyz, "a:10:1:X b:20:2:Y c:-:-:Z", " exop");
        row("fewer countries", Fields(3) + a + b + c + unused + Fields(Names{"X"}),
            "a:10:1:X b:20:2:- c:30:3:-", " exop");
        row("count beyond the data", Fields(5) + a + b, "a:10:1:- b:20:2:- c:-:-:-", " exop");
    }

    void joinReplyFillsUsersStatsAndRoles()
    {
        QFETCH(QByteArray, tail);
        QFETCH(QString, users);
        QFETCH(QString, roles);
        ItemPtr den = Make(room, "den");
        den.Connect(Make(user, "gone"));
        den.NewItem(roomOperators).Connect(Make(user, "exop"));
        fake->SendRaw(Message(14, Fields(QString("den"), Names{"a", "b", "c"}, Numbers{}) + tail));
        QTRY_COMPARE(Marks("den"), QStringList{inRoom});
        QCOMPARE(Rows(den.GetItems(user), {averageDownloadSpeed, sharedFileCount, countryCode}),
                 users.split(' '));
        // Only a private room's reply names an owner and replaces the operators.
        QCOMPARE(den[roomOwner][user].AsString() + " " +
                     Rows(den[roomOperators].GetItems(user)).join(' '),
                 roles);
    }

    void usersComeGoAndTalk()
    {
        Make(room, "den").NewItem(inRoom);
        Make(room, "hall").Connect(Make(user, "stays"));
        Make(user, "troll").NewItem(isIgnored);
        QSignalSpy chat(server.get(), &Server::RoomChat);
        fake->Send(16, QString("den"), QString("cy"), qint32(2), Stats(512, 9), qint32(0),
                   QString("SE"));
        fake->Send(16, QString("den"), QString("dot"));
        // Reports for a room or user we do not know, or a room we are not in, change nothing.
        fake->Send(17, QString("den"), QString("dot"));
        fake->Send(17, QString("nowhere"), QString("nobody"));
        fake->Send(15, QString("hall"));
        for (const char* who : {"cy", "troll", "stranger"})
            fake->Send(13, QString("den"), QString(who), QString("hello"));
        QTRY_COMPARE(chat,
                     (QList<QVariantList>{{"den", "cy", "hello"}, {"den", "stranger", "hello"}}));
        QCOMPARE(Rows(g(room).GetItems(user), {averageDownloadSpeed, sharedFileCount, countryCode}),
                 (QStringList{"cy:512:9:SE", "stays:-:-:-"}));
        QVERIFY(Find(room, "nowhere").IsNull() && Find(user, "nobody").IsNull());
        QVERIFY(Find(user, "stranger").IsNull());
        fake->Send(15, QString("den"));
        QTRY_VERIFY(Marks("den").isEmpty() && Find(room, "den").GetItems(user).Empty());
    }

    void tickersAreSetAndReplaced()
    {
        // Every ticker in the store: replaced ones must leave it, not just their room.
        auto tickers = [] {
            return Rows(g(roomTicker), {room, user, roomTickerText, roomTickerOrder});
        };
        fake->Send(113, QString("den"), qint32(2), QString("ann"), QString("hi"), QString("bob"),
                   QString("yo"));
        fake->Send(113, QString("hall"), qint32(1), QString("cy"), QString("x"));
        fake->Send(113, QString("den"), qint32(1), QString("dan"), QString("new"));
        QTRY_COMPARE(tickers(), (QStringList{":den:dan:new:4", ":hall:cy:x:3"}));
        // A user's new ticker replaces their old one.
        fake->Send(114, QString("den"), QString("ann"), QString("a1"));
        fake->Send(114, QString("den"), QString("ann"), QString("a2"));
        QTRY_COMPARE(tickers(), (QStringList{":den:ann:a2:6", ":den:dan:new:4", ":hall:cy:x:3"}));
    }

    void memberAndOperatorListsFollowTheServer_data()
    {
        QTest::addColumn<QByteArray>("node");
        QTest::addColumn<QList<qint32>>("codes");
        QTest::newRow("members") << QByteArray(roomMembers) << QList<qint32>{133, 134, 135};
        QTest::newRow("operators") << QByteArray(roomOperators) << QList<qint32>{148, 143, 144};
    }

    void memberAndOperatorListsFollowTheServer()
    {
        QFETCH(QByteArray, node);
        QFETCH(QList<qint32>, codes);
        const QString den("den");
        auto listed = [&] { return Rows(Find(room, den)[node.constData()].GetItems(user)); };
        fake->Send(codes[0], den, NameSet{"ann", "bob"});
        fake->Send(codes[1], den, QString("cy"));
        fake->Send(codes[2], den, QString("zed"));
        fake->Send(codes[2], den, QString("ann"));
        QTRY_COMPARE(listed(), (QStringList{"bob", "cy"}));
        QVERIFY(Find(user, "zed").IsNull());

        fake->Send(codes[0], den, NameSet{"dan"});
        QTRY_COMPARE(listed(), QStringList{"dan"});
    }

    void ownPrivateRoomStateFollowsTheServer()
    {
        fake->Send(139, QString("club"));
        // Being made a member is taken as an invitation to come in at once.
        QTRY_COMPARE(fake->MessagesWithCode(14).value(0).fields,
                     Fields(QString("club"), qint32(0)));
        QCOMPARE(Marks("club"), (QStringList{isPrivate, isMember}));
        fake->Send(145, QString("club"));
        QTRY_COMPARE(Marks("club"), (QStringList{isPrivate, isMember, isOperator}));
        fake->Send(146, QString("club"));
        QTRY_COMPARE(Marks("club"), (QStringList{isPrivate, isMember}));

        for (const char* mark : {isOperator, isOwner, inRoom, roomAutojoin})
            Make(room, "club").NewItem(mark);
        Make(room, "hall").NewItem(roomAutojoin);
        for (qint32 code : {140, 1003})
            for (const char* name : {"nowhere", "club"})
                fake->Send(code, QString(name));
        // The room stays private, and in_room waits for the server's leave reply.
        QTRY_COMPARE(Marks("club"), (QStringList{isPrivate, inRoom}));
        QCOMPARE(Marks("hall"), QStringList{roomAutojoin});
        QVERIFY(Find(room, "nowhere").IsNull());

        QSignalSpy spy(server.get(), &Server::PrivateRoomAddEnabled);
        QStringList seen;
        // Any non-zero byte lets others add us to private rooms; a missing one does not.
        for (const QByteArray& flag : {QByteArray(1, '\0'), QByteArray("\x7f"), QByteArray()})
        {
            fake->SendRaw(Message(141, flag));
            QVERIFY(spy.wait(5000));
            seen << spy.takeFirst().at(0).toString() + " " +
                        Settings::GetText(ServerSettings::acceptPrivateRoomAdd);
        }
        QCOMPARE(seen, (QStringList{"false no", "true yes", "false no"}));
    }
};

QTEST_MAIN(ServerRoomsTest)
#include "tst_rooms.moc"
