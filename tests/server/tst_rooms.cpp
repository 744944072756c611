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

QString Attribute(ItemPtr item, const char* type)
{
    return item[type].AsString();
}

// The values of the items, sorted.
QStringList Values(const ItemSet& items)
{
    QStringList values;
    for (ItemPtr item : items)
        values << item.AsString();
    values.sort();
    return values;
}

// The client's own marks on a room.
QStringList Marks(ItemPtr room)
{
    QStringList marks;
    for (const char* mark : {isOwner, isPrivate, isMember, isOperator, inRoom})
        if (room.IsConnected(mark))
            marks << mark;
    return marks;
}

// The room's wall as "user:text:order", sorted.
QStringList Tickers(const QString& room)
{
    QStringList entries;
    for (ItemPtr ticker : Find(ServerTypes::room, room).GetItems(roomTicker))
        entries << Attribute(ticker, user) + ":" + Attribute(ticker, roomTickerText) + ":" +
                       Attribute(ticker, roomTickerOrder);
    entries.sort();
    return entries;
}

UserStats Stats(qint32 speed, qint32 files)
{
    UserStats stats;
    stats.m_averageSpeed = speed;
    stats.m_sharedFileCount = files;
    return stats;
}

template <class... Values> QByteArray Fields(const Values&... values)
{
    return FakeCentralServer::Body(0, values...).mid(4);
}

QByteArray Message(qint32 code, const QByteArray& fields)
{
    return FakeCentralServer::Frame(FakeCentralServer::Body(code) + fields);
}
} // namespace

class ServerRoomsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeCentralServer> fake;
    std::unique_ptr<Server> server;

    // Messages are handled in order: once this one is through, so is every one before it.
    bool Settle()
    {
        QSignalSpy admin(server.get(), &Server::AdminMessage);
        fake->Send(66, QString("settled"));
        return admin.wait(5000) && server->IsConnected();
    }

    void SendRoomList(const Names& rooms, const Numbers& counts, const Names& owned = {},
                      const Numbers& ownedCounts = {}, const Names& joined = {},
                      const Numbers& joinedCounts = {}, const NameSet& operated = {})
    {
        fake->Send(64, rooms, counts, owned, ownedCounts, joined, joinedCounts, operated);
    }

private slots:
    void init()
    {
        fake = std::make_unique<FakeCentralServer>();
        server = std::make_unique<Server>();
        ServerTestSetup::DeclareTypes(*server);
        ServerTestSetup::ResetStore();
        QVERIFY(ServerTestSetup::LogIn(*server, *fake));
    }

    void cleanup()
    {
        server.reset();
        fake.reset();
    }

    void unaskedRoomListOnlyRefreshesKnownRooms()
    {
        // The login asked for the list that follows it; this one comes unasked.
        Settings::Set(ServerSettings::acceptRoomList, "no");
        Make(room, "known");
        SendRoomList({"known", "fresh"}, {5, 7});
        QVERIFY(Settle());
        QCOMPARE(Attribute(Find(room, "known"), userCount), QString("5"));
        QVERIFY(Find(room, "fresh").IsNull());

        server->GetRoomList();
        QVERIFY(Settings::IsYes(ServerSettings::acceptRoomList));
        // Three names, and counts that promise three but end after two, with nothing after.
        fake->SendRaw(
            Message(64, Fields(Names{"known", "fresh", "late"}, quint32(3), qint32(6), qint32(8))));
        QVERIFY(Settle());
        QCOMPARE(Attribute(Find(room, "known"), userCount), QString("6"));
        QCOMPARE(Attribute(Find(room, "fresh"), userCount), QString("8"));
        QVERIFY(Find(room, "late").IsNull());
        QCOMPARE(Settings::GetText(ServerSettings::acceptRoomList), QString("no"));
    }

    void roomListSetsOwnPrivateRoles()
    {
        ItemPtr old = Make(room, "old");
        for (const char* mark : {isOwner, isPrivate, isMember, isOperator})
            old.NewItem(mark);
        Make(room, "left").NewItem(isMember);

        SendRoomList({}, {}, {"mine"}, {3}, {"theirs"}, {4}, {"theirs", "mine"});
        QVERIFY(Settle());
        // An owned room is a member room too, though the member list leaves it out.
        ItemPtr mine = Find(room, "mine"), theirs = Find(room, "theirs");
        QCOMPARE(Marks(mine), (QStringList{isOwner, isPrivate, isMember}));
        QCOMPARE(Marks(theirs), (QStringList{isPrivate, isMember, isOperator}));
        QCOMPARE(Attribute(mine, userCount), QString("3"));
        QCOMPARE(Attribute(theirs, userCount), QString("4"));
        // Roles no longer listed go; the list never takes private or operator marks away.
        QCOMPARE(Marks(old), (QStringList{isPrivate, isOperator}));
        QVERIFY(Marks(Find(room, "left")).isEmpty());

        SendRoomList({}, {}, {}, {}, {"theirs"}, {4});
        QVERIFY(Settle());
        QCOMPARE(Marks(mine), QStringList{isPrivate});
        QCOMPARE(Marks(theirs), (QStringList{isPrivate, isMember, isOperator}));
    }

    void joinReplyFillsUsersStatsAndRoles()
    {
        ItemPtr den = Make(room, "den");
        den.Connect(Make(user, "gone"));
        den.NewItem(roomOperators).Connect(Make(user, "exop"));
        fake->Send(14, QString("den"), Names{"ann", "bob"}, Numbers{1, 2}, qint32(2),
                   Stats(100, 10), Stats(200, 20), Numbers{0, 0}, Names{"NL", "FR"}, QString("ann"),
                   NameSet{"bob"});
        QVERIFY(Settle());
        QVERIFY(den.IsConnected(inRoom));
        QCOMPARE(Values(den.GetItems(user)), (QStringList{"ann", "bob"}));
        QCOMPARE(Attribute(Find(user, "bob"), averageDownloadSpeed), QString("200"));
        QCOMPARE(Attribute(Find(user, "bob"), sharedFileCount), QString("20"));
        QCOMPARE(Attribute(Find(user, "ann"), countryCode), QString("NL"));
        QCOMPARE(Values(den[roomOwner].GetItems(user)), QStringList{"ann"});
        QCOMPARE(Values(den[roomOperators].GetItems(user)), QStringList{"bob"});
    }

    void joinReplyPairsOnlyWhatWasSent_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<QStringList>("withSpeed");
        QTest::addColumn<QStringList>("withCountry");
        const QByteArray a = Fields(Stats(1, 1)), b = Fields(Stats(2, 2)), c = Fields(Stats(3, 3));
        const QByteArray noOwner = Fields(Numbers{});
        QTest::newRow("fewer records")
            << Fields(qint32(2)) + a + b + noOwner + Fields(Names{"X", "Y", "Z"})
            << QStringList{"a", "b"} << QStringList{"a", "b", "c"};
        QTest::newRow("fewer countries")
            << Fields(qint32(3)) + a + b + c + noOwner + Fields(Names{"X"})
            << QStringList{"a", "b", "c"} << QStringList{"a"};
        QTest::newRow("count beyond the data")
            << Fields(qint32(5)) + a + b << QStringList{"a", "b"} << QStringList{};
        QTest::newRow("cut inside a record")
            << Fields(qint32(3)) + a + b.left(10) << QStringList{"a"} << QStringList{};
        QTest::newRow("owner cut short")
            << Fields(qint32(1)) + a + noOwner + Fields(Names{"X"}) + Fields(quint32(10)) + "ow"
            << QStringList{"a"} << QStringList{"a"};
    }

    void joinReplyPairsOnlyWhatWasSent()
    {
        QFETCH(QByteArray, tail);
        QFETCH(QStringList, withSpeed);
        QFETCH(QStringList, withCountry);
        fake->SendRaw(Message(14, Fields(QString("den"), Names{"a", "b", "c"}, Numbers{}) + tail));
        QVERIFY(Settle());
        ItemPtr den = Find(room, "den");
        QCOMPARE(Values(den.GetItems(user)), (QStringList{"a", "b", "c"}));
        QCOMPARE(Values(g(averageDownloadSpeed).GetItems(user)), withSpeed);
        QCOMPARE(Values(g(countryCode).GetItems(user)), withCountry);
        QVERIFY(den[roomOwner].IsNull());
    }

    void usersComeAndGo()
    {
        ItemPtr den = Make(room, "den"), hall = Make(room, "hall");
        den.NewItem(inRoom);
        hall.Connect(Make(user, "stays"));
        fake->Send(16, QString("den"), QString("cy"), qint32(2), Stats(512, 9), qint32(0),
                   QString("SE"));
        fake->SendRaw(Message(16, Fields(QString("den"), QString("dot"), qint32(2)) + "\x01\x02"));
        QVERIFY(Settle());
        QCOMPARE(Values(den.GetItems(user)), (QStringList{"cy", "dot"}));
        QCOMPARE(Attribute(Find(user, "cy"), averageDownloadSpeed), QString("512"));
        QCOMPARE(Attribute(Find(user, "cy"), countryCode), QString("SE"));
        QCOMPARE(Attribute(Find(user, "dot"), sharedFileCount), QString("0"));

        fake->Send(17, QString("den"), QString("cy"));
        fake->Send(17, QString("nowhere"), QString("nobody"));
        fake->Send(15, QString("hall"));
        QVERIFY(Settle());
        QCOMPARE(Values(den.GetItems(user)), QStringList{"dot"});
        QVERIFY(Find(room, "nowhere").IsNull() && Find(user, "nobody").IsNull());
        QCOMPARE(Values(hall.GetItems(user)), QStringList{"stays"});

        fake->Send(15, QString("den"));
        QVERIFY(Settle());
        QVERIFY(!den.IsConnected(inRoom) && den.GetItems(user).Empty());
    }

    void roomChatSkipsIgnoredUsers()
    {
        Make(user, "friend");
        Make(user, "troll").NewItem(isIgnored);
        QSignalSpy chat(server.get(), &Server::RoomChat);
        for (const char* who : {"friend", "troll", "stranger"})
            fake->Send(13, QString("den"), QString(who), QString("hello"));
        QVERIFY(Settle());
        QCOMPARE(chat.count(), 2);
        QCOMPARE(chat.at(0), (QVariantList{"den", "friend", "hello"}));
        QCOMPARE(chat.at(1), (QVariantList{"den", "stranger", "hello"}));
        QVERIFY(Find(user, "stranger").IsNull());
    }

    void tickerListReplacesTheWall()
    {
        Type* tickers = d.GetType(roomTicker);
        auto list = [](const QByteArray& entries) { return Fields(QString("den")) + entries; };
        fake->SendRaw(Message(113, list(Fields(qint32(2), QString("ann"), QString("hi"),
                                               QString("bob"), QString("yo")))));
        fake->Send(113, QString("hall"), qint32(1), QString("cy"), QString("x"));
        QVERIFY(Settle());
        QCOMPARE(Tickers("den"), (QStringList{"ann:hi:1", "bob:yo:2"}));
        QCOMPARE(Tickers("hall"), QStringList{"cy:x:3"});

        // The old entries leave the store, not just the room.
        fake->Send(113, QString("den"), qint32(1), QString("dan"), QString("new"));
        QVERIFY(Settle());
        QCOMPARE(Tickers("den"), QStringList{"dan:new:4"});
        QCOMPARE(tickers->ItemCount(), size_t(2));

        fake->Send(114, QString("den"), QString("ann"), QString("a1"));
        fake->Send(114, QString("den"), QString("ann"), QString("a2"));
        QVERIFY(Settle());
        QCOMPARE(Tickers("den"), (QStringList{"ann:a2:6", "dan:new:4"}));
        QCOMPARE(tickers->ItemCount(), size_t(3));

        const QByteArray entry = Fields(QString("eve"), QString("e"));
        fake->SendRaw(Message(113, list(Fields(qint32(3)) + entry + entry.left(9))));
        QVERIFY(Settle());
        QCOMPARE(Tickers("den"), QStringList{"eve:e:7"});
        fake->SendRaw(Message(113, list(Fields(qint32(131073)) + entry)));
        QVERIFY(Settle());
        QVERIFY(Tickers("den").isEmpty());
        QCOMPARE(tickers->ItemCount(), size_t(1));
    }

    void autojoinDroppedForThatRoomOnly()
    {
        Make(room, "den").NewItem(roomAutojoin);
        Make(room, "hall").NewItem(roomAutojoin);
        fake->Send(1003, QString("den"));
        fake->Send(1003, QString("nowhere"));
        QVERIFY(Settle());
        QCOMPARE(Values(g(roomAutojoin).GetItems(room)), QStringList{"hall"});
        QVERIFY(Find(room, "nowhere").IsNull());
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
        const qint32 replace = codes[0], add = codes[1], remove = codes[2];
        const QString den("den");
        auto listed = [&] { return Values(Find(room, den)[node.constData()].GetItems(user)); };

        fake->Send(replace, den, NameSet{"ann", "bob"});
        fake->Send(add, den, QString("cy"));
        fake->Send(add, den, QString("cy"));
        fake->Send(remove, den, QString("ann"));
        fake->Send(remove, den, QString("zed"));
        QVERIFY(Settle());
        QCOMPARE(listed(), (QStringList{"bob", "cy"}));
        QVERIFY(Find(user, "zed").IsNull());

        const QByteArray dan = Fields(QString("dan"));
        fake->SendRaw(Message(replace, Fields(den, qint32(3)) + dan + dan.left(5)));
        QVERIFY(Settle());
        QCOMPARE(listed(), QStringList{"dan"});
        fake->Send(replace, den, NameSet{});
        QVERIFY(Settle());
        QVERIFY(!Find(room, den)[node.constData()].IsNull());
        QVERIFY(listed().isEmpty());
        fake->SendRaw(Message(replace, Fields(den, qint32(131073)) + dan));
        QVERIFY(Settle());
        QVERIFY(listed().isEmpty());
    }

    void ownMembershipAndOperatorship()
    {
        fake->Send(139, QString("club"));
        QVERIFY(fake->WaitForCode(14));
        QCOMPARE(fake->MessagesWithCode(14).first().fields, Fields(QString("club"), qint32(0)));
        ItemPtr club = Find(room, "club");
        QCOMPARE(Marks(club), (QStringList{isPrivate, isMember}));

        fake->Send(145, QString("club"));
        QVERIFY(Settle());
        QCOMPARE(Marks(club), (QStringList{isPrivate, isMember, isOperator}));
        fake->Send(146, QString("club"));
        QVERIFY(Settle());
        QCOMPARE(Marks(club), (QStringList{isPrivate, isMember}));

        for (const char* mark : {isOperator, isOwner, inRoom})
            club.NewItem(mark);
        fake->Send(140, QString("club"));
        fake->Send(140, QString("nowhere"));
        QVERIFY(Settle());
        QCOMPARE(Marks(club), (QStringList{isPrivate, inRoom}));
        QVERIFY(Find(room, "nowhere").IsNull());
    }

    void privateRoomAddFlagIsStoredAndPassedOn()
    {
        QSignalSpy spy(server.get(), &Server::PrivateRoomAddEnabled);
        const QList<QPair<QByteArray, bool>> flags = {{QByteArray(1, '\1'), true},
                                                      {QByteArray(1, '\0'), false},
                                                      {QByteArray(1, '\x7f'), true},
                                                      {QByteArray(), false}};
        for (const auto& [flag, enabled] : flags)
        {
            fake->SendRaw(Message(141, flag));
            QVERIFY(spy.wait(5000));
            QCOMPARE(spy.takeFirst().at(0).toBool(), enabled);
            QCOMPARE(Settings::GetText("accept_private_room_add"), enabled ? "yes" : "no");
        }
    }
};

QTEST_MAIN(ServerRoomsTest)
#include "tst_rooms.moc"
