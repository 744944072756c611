#include <algorithm>
#include <functional>

#include <QSignalSpy>
#include <QtTest>

#include "Data.h"
#include "FakeCentralServer.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "ServerTypes.h"
#include "Settings.h"

using Request = std::function<void(Server&)>;
Q_DECLARE_METATYPE(Request)

namespace {
// The heartbeat closes every batch of requests: nothing else in these tests sends it.
constexpr qint32 markerCode = 32;

template <class... Fields> QByteArray Body(qint32 code, const Fields&... fields)
{
    return FakeCentralServer::Body(code, fields...);
}

ItemPtr User(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}

ItemPtr Room(const QString& name)
{
    return d.GetType(ServerTypes::room)->GetItem(Value(name));
}

ItemPtr Search(quint32 token)
{
    return d.GetType(PeerTypes::searchRequest)->HasItem(Value(token));
}
} // namespace

class ServerRequestsTest : public QObject
{
    Q_OBJECT

    FakeCentralServer fake;
    Server* server = nullptr;
    const QString ann = "ann", bob = "bob", room = "den";

    // The bodies of every message sent since the last call, the marker left out. The link keeps
    // order, so once the marker has arrived nothing sent before it is still on the way.
    bool TakeSent(QList<QByteArray>& bodies)
    {
        server->EveryFiveMinutes();
        if (!fake.WaitForCode(markerCode))
            return false;
        bodies.clear();
        for (const ServerMessage& message : fake.messages)
            if (message.code != markerCode)
                bodies << Body(message.code) + message.fields;
        fake.ClearMessages();
        return true;
    }

private slots:
    // A new Server per test, so that both token counters start at 1.
    void init()
    {
        server = new Server;
        ServerTestSetup::DeclareTypes(*server);
        ServerTestSetup::ResetStore();
        fake.SetLoginReply(FakeCentralServer::AcceptLogin);
        QVERIFY(ServerTestSetup::LogIn(*server, fake));
        QList<QByteArray> afterLogin;
        QVERIFY(TakeSent(afterLogin));
    }

    void cleanup()
    {
        delete server;
        server = nullptr;
    }

    void requestWritesItsCodeAndFields_data()
    {
        QTest::addColumn<Request>("request");
        QTest::addColumn<QByteArray>("body");
        using Bytes = QByteArray;

        // The flags spelled out byte by byte (blanks are skipped), so that their widths are fixed.
        QTest::newRow("child depth")
            << Request([](Server& s) { s.SendChildDepth(true); }) << Bytes::fromHex("81000000 01");
        QTest::newRow("has a parent") << Request([](Server& s) { s.SendDNetHasParent(true); })
                                      << Bytes::fromHex("47000000 00");
        QTest::newRow("has no parent") << Request([](Server& s) { s.SendDNetHasParent(false); })
                                       << Bytes::fromHex("47000000 01");
        QTest::newRow("can parent") << Request([](Server& s) { s.SendDNetCanParent(true); })
                                    << Bytes::fromHex("64000000 01");
        QTest::newRow("room add off") << Request([](Server& s) { s.EnablePrivateRoomAdd(false); })
                                      << Bytes::fromHex("8d000000 00");
        QTest::newRow("enter private") << Request([](Server& s) { s.EnterRoom("r", true); })
                                       << Bytes::fromHex("0e000000 01000000 72 01000000");
        QTest::newRow("enter public") << Request([](Server& s) { s.EnterRoom("r", false); })
                                      << Bytes::fromHex("0e000000 01000000 72 00000000");

        QTest::newRow("folders, files") << Request([](Server& s) { s.SendFilesFolders(3, 70); })
                                        << Body(35, qint32(3), qint32(70));
        QTest::newRow("dnet level")
            << Request([](Server& s) { s.SendDNetLevel(-4); }) << Body(126, qint32(-4));
        QTest::newRow("room list") << Request([](Server& s) { s.GetRoomList(); }) << Body(64);
        QTest::newRow("untrack") << Request([this](Server& s) {
            User(ann).NewItem(ServerTypes::isTracked);
            s.UntrackUser(ann);
        }) << Body(6, ann);
        QTest::newRow("cannot connect")
            << Request([this](Server& s) { s.SendCantConnectToPeer(0xfffffff0u, ann); })
            << Body(1001, quint32(0xfffffff0u), ann);
        QTest::newRow("remove member")
            << Request([this](Server& s) { s.RemovePrivateRoomMember(room, ann); })
            << Body(135, room, ann);
        QTest::newRow("add member")
            << Request([this](Server& s) { s.AddPrivateRoomMember(room, ann); })
            << Body(134, room, ann);
        QTest::newRow("user stats")
            << Request([this](Server& s) { s.GetUserStats(ann); }) << Body(36, ann);
        QTest::newRow("user status")
            << Request([this](Server& s) { s.GetUserStatus(ann); }) << Body(7, ann);
        QTest::newRow("room chat")
            << Request([this](Server& s) { s.SendRoomChat(room, "h\u00e9llo"); })
            << Body(13, room, QString("h\u00e9llo"));
        QTest::newRow("indirect connection")
            << Request([this](Server& s) { s.SendIndirectConnectionRequest(ann, "P"); })
            << Body(18, quint32(1), ann, QString("P"));
        QTest::newRow("give up membership")
            << Request([this](Server& s) { s.GiveUpPrivateRoomMembership(room); })
            << Body(136, room);
        QTest::newRow("add operator")
            << Request([this](Server& s) { s.AddPrivateRoomOperator(room, ann); })
            << Body(143, room, ann);
        QTest::newRow("leave") << Request([this](Server& s) {
            Room(room).NewItem(ServerTypes::inRoom);
            s.LeaveRoom(room);
        }) << Body(15, room);
        QTest::newRow("user address")
            << Request([this](Server& s) { s.GetUserAddress(ann); }) << Body(3, ann);
        QTest::newRow("ban") << Request([this](Server& s) { s.BannedUser(ann); }) << Body(132, ann);
        QTest::newRow("ticker") << Request([this](Server& s) { s.SetRoomTicker(room, "tick"); })
                                << Body(116, room, QString("tick"));
        QTest::newRow("group leader")
            << Request([this](Server& s) { s.SendDNetGroupLeader(ann); }) << Body(127, ann);
        QTest::newRow("gift privileges")
            << Request([this](Server& s) { s.GiftPrivileges(ann, 30); })
            << Body(123, ann, qint32(30));
        QTest::newRow("private chat")
            << Request([this](Server& s) { s.SendPrivateChat(ann, "hi"); })
            << Body(22, ann, QString("hi"));
        QTest::newRow("remove operator")
            << Request([this](Server& s) { s.RemovePrivateRoomOperator(room, ann); })
            << Body(144, room, ann);
        QTest::newRow("add user") << Request([this](Server& s) { s.AddUser(ann); }) << Body(5, ann);
        QTest::newRow("track") << Request([this](Server& s) { s.TrackUser(ann); }) << Body(5, ann);
        QTest::newRow("upload speed")
            << Request([](Server& s) { s.SendUploadSpeed(123456); }) << Body(121, qint32(123456));
        QTest::newRow("give up room")
            << Request([this](Server& s) { s.GiveUpPrivateRoom(room); }) << Body(137, room);
    }

    void requestWritesItsCodeAndFields()
    {
        QFETCH(Request, request);
        QFETCH(QByteArray, body);
        request(*server);
        QList<QByteArray> sent;
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, QList<QByteArray>{body});
    }

    void tracksEachUserOnceButAddsEveryTime()
    {
        server->TrackUser(ann);
        server->TrackUser(ann);
        server->AddUser(bob);
        server->AddUser(bob);
        User("carl"); // known but never tracked
        server->UntrackUser("carl");
        server->UntrackUser("nobody");
        QList<QByteArray> sent;
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, (QList<QByteArray>{Body(5, ann), Body(5, bob), Body(5, bob)}));
        QVERIFY(!User(ann).HasItem(ServerTypes::isTracked).IsNull());
        QVERIFY(User(bob).HasItem(ServerTypes::isTracked).IsNull());

        server->UntrackUser(ann);
        QVERIFY(User(ann).HasItem(ServerTypes::isTracked).IsNull());
        server->TrackUser(ann);
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, (QList<QByteArray>{Body(6, ann), Body(5, ann)}));
    }

    void asksForAnAddressOncePerPendingRequest()
    {
        server->GetUserAddress(ann);
        server->GetUserAddress(ann);
        QList<QByteArray> sent;
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, QList<QByteArray>{Body(3, ann)});
        QVERIFY(!User(ann).HasItem(ServerTypes::userAddressRequest).IsNull());

        User(ann).Disconnect(ServerTypes::userAddressRequest); // as the address reply does
        server->GetUserAddress(ann);
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, QList<QByteArray>{Body(3, ann)});
    }

    void leavesOnlyARoomItIsIn()
    {
        Room("hall");
        server->LeaveRoom("hall");
        server->LeaveRoom("unknown");
        Room(room).NewItem(ServerTypes::inRoom);
        server->LeaveRoom(room);
        QList<QByteArray> sent;
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, QList<QByteArray>{Body(15, room)});
        // The mark goes with the server's confirmation, not with the request.
        QVERIFY(!Room(room).HasItem(ServerTypes::inRoom).IsNull());
    }

    void privateChatGoesAsOneLine()
    {
        QSignalSpy chatSent(server, &Server::PrivateChatSent);
        server->SendPrivateChat(ann, "one\r\ntwo\nthree\rfour");
        const QString line = "one  two three four";
        QList<QByteArray> sent;
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, QList<QByteArray>{Body(22, ann, line)});
        QCOMPARE(chatSent.size(), 1);
        QCOMPARE(chatSent.first(), (QVariantList{ann, line}));
    }

    void requestsWhileNotLoggedInKeepOnlyTheirStoreChanges()
    {
        // Connecting, with the login unanswered: the link is up, so a leaked request would arrive.
        server->Disconnect();
        fake.SetLoginReply(FakeCentralServer::NoLoginReply);
        server->Connect();
        QVERIFY(fake.WaitForCode(1));
        QCOMPARE(server->GetConnectionState(), int(Server::StateConnecting));
        fake.ClearMessages();
        Settings::Set(ServerSettings::acceptRoomList, "no");
        QSignalSpy chatSent(server, &Server::PrivateChatSent);
        QSignalSpy searched(server, &Server::SearchRequested);

        server->GetRoomList();
        server->TrackUser(ann);
        server->GetUserAddress(bob);
        server->SendPrivateChat(ann, "hi");
        server->EnterRoom(room, false);
        QCOMPARE(server->FileSearch("tune", false), 1u);

        QCOMPARE(Settings::GetText(ServerSettings::acceptRoomList), QString("yes"));
        QVERIFY(!User(ann).HasItem(ServerTypes::isTracked).IsNull());
        QVERIFY(!User(bob).HasItem(ServerTypes::userAddressRequest).IsNull());
        QCOMPARE(Search(1).HasItem(PeerTypes::searchRequestText).AsString(), QString("tune"));
        QCOMPARE(searched.size(), 1);
        QCOMPARE(chatSent.size(), 0);

        // Once logged in, only the follow-up's re-announcements of the marks go out.
        QSignalSpy connected(server, &Server::Connected);
        fake.Send(1, true, QString("Welcome"), quint32(0x0100007f), QString(), false);
        QVERIFY(connected.wait());
        QList<QByteArray> sent;
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, (QList<QByteArray>{Body(5, ann), Body(3, bob)}));
    }

    void searchTokensRunApartFromConnectionTokens()
    {
        QCOMPARE(server->FileSearch("a", false), 1u);
        QCOMPARE(server->SendIndirectConnectionRequest(ann, "P"), 1u);
        QCOMPARE(server->SearchRoom(room, "b"), 2u);
        QCOMPARE(server->SendIndirectConnectionRequest(bob, "F"), 2u);
        QCOMPARE(server->SearchUserList("c"), 3u); // nobody online: a record, no message
        QList<QByteArray> sent;
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, (QList<QByteArray>{Body(26, quint32(1), QString("a")),
                                          Body(18, quint32(1), ann, QString("P")),
                                          Body(120, room, quint32(2), QString("b")),
                                          Body(18, quint32(2), bob, QString("F"))}));
        const QStringList texts = {"a", "b", "c"};
        for (quint32 token = 1; token <= 3; ++token)
            QCOMPARE(Search(token).HasItem(PeerTypes::searchRequestText).AsString(),
                     texts[int(token) - 1]);
    }

    void wishListSearchIsLowPriorityAndMarked()
    {
        QSignalSpy requested(server, &Server::SearchRequested);
        const QString song = "song";
        const quint32 wish = server->FileSearch(song, true);
        const quint32 plain = server->FileSearch(song, false);
        QList<QByteArray> sent;
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent, (QList<QByteArray>{Body(103, wish, song), Body(26, plain, song)}));

        QVERIFY(!Search(wish).HasItem(PeerTypes::wishlistSearch).IsNull());
        QVERIFY(Search(plain).HasItem(PeerTypes::wishlistSearch).IsNull());
        QCOMPARE(Search(wish).HasItem(PeerTypes::searchRequestText).Get(),
                 Search(plain).HasItem(PeerTypes::searchRequestText).Get());
        QCOMPARE(d.GetType(PeerTypes::searchRequestText)->ItemCount(), size_t(1));
        QCOMPARE(requested.size(), 2);
        QCOMPARE(requested.at(0), (QVariantList{wish, song, true}));
        QCOMPARE(requested.at(1), (QVariantList{plain, song, false}));
    }

    void userListSearchGoesToOnlineListedUsers()
    {
        for (const char* name : {"ann", "bob", "carl", "dora", "eve"})
            User(name).NewItem(ServerTypes::inUserList);
        User(bob).NewItem(ServerTypes::isOnline);
        User("eve").NewItem(ServerTypes::isOnline);
        User("finn").NewItem(ServerTypes::isOnline); // online, not in the list
        const QString tune = "tune";
        const quint32 token = server->SearchUserList(tune);
        server->GetSearchCorrelations(tune);
        QList<QByteArray> sent;
        QVERIFY(TakeSent(sent));
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent.takeLast(), Body(153, tune));
        std::sort(sent.begin(), sent.end()); // the store's order is not the list's
        QCOMPARE(sent, (QList<QByteArray>{Body(42, bob, token, tune),
                                          Body(42, QString("eve"), token, tune)}));
        QCOMPARE(Search(token).HasItem(PeerTypes::searchRequestText).AsString(), tune);
    }
};

QTEST_MAIN(ServerRequestsTest)
#include "tst_requests.moc"
