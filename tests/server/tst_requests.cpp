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
const QByteArray markerMissing = "the heartbeat never arrived";
const QString ann = "ann", bob = "bob", room = "den", tune = "tune";

const auto Body = [](qint32 code, const auto&... fields) {
    return FakeCentralServer::Body(code, fields...);
};

ItemPtr User(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}

ItemPtr Search(quint32 token)
{
    return d.GetType(PeerTypes::searchRequest)->HasItem(Value(token));
}

QString SearchText(quint32 token)
{
    return Search(token).HasItem(PeerTypes::searchRequestText).AsString();
}
} // namespace

// A row named after the call, so that a failure names the request.
#define REQUEST_ROW(call, body)                                                                    \
    QTest::newRow(#call) << Request([](Server& s) { s.call; }) << QByteArray(body)

class ServerRequestsTest : public QObject
{
    Q_OBJECT

    FakeCentralServer fake;
    Server* server = nullptr;

    // The bodies of every message sent since the last call, the marker left out. The link keeps
    // order, so once the marker has arrived nothing sent before it is still on the way.
    QList<QByteArray> Sent()
    {
        server->EveryFiveMinutes();
        if (!fake.WaitForCode(markerCode))
            return {markerMissing};
        QList<QByteArray> bodies;
        for (const ServerMessage& message : fake.messages)
            if (message.code != markerCode)
                bodies << Body(message.code) + message.fields;
        fake.ClearMessages();
        return bodies;
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
        QVERIFY(!Sent().contains(markerMissing));
    }

    void cleanup()
    {
        delete server;
        server = nullptr;
    }

    // Requests with marks or tokens are shown by the tests after this one.
    void requestWritesItsCodeAndFields_data()
    {
        QTest::addColumn<Request>("request");
        QTest::addColumn<QByteArray>("body");
        // The flags spelled out byte by byte (blanks are skipped), so that their widths are fixed.
        REQUEST_ROW(SendChildDepth(true), QByteArray::fromHex("81000000 01"));
        REQUEST_ROW(SendDNetHasParent(true), QByteArray::fromHex("47000000 00"));
        REQUEST_ROW(SendDNetHasParent(false), QByteArray::fromHex("47000000 01"));
        REQUEST_ROW(SendDNetCanParent(true), QByteArray::fromHex("64000000 01"));
        REQUEST_ROW(EnablePrivateRoomAdd(false), QByteArray::fromHex("8d000000 00"));
        REQUEST_ROW(EnterRoom("r", true), QByteArray::fromHex("0e000000 01000000 72 01000000"));

        REQUEST_ROW(SendFilesFolders(3, 70), Body(35, qint32(3), qint32(70)));
        REQUEST_ROW(SendDNetLevel(-4), Body(126, qint32(-4)));
        REQUEST_ROW(GetRoomList(), Body(64));
        REQUEST_ROW(SendCantConnectToPeer(0xfffffff0u, ann), Body(1001, 0xfffffff0u, ann));
        REQUEST_ROW(RemovePrivateRoomMember(room, ann), Body(135, room, ann));
        REQUEST_ROW(AddPrivateRoomMember(room, ann), Body(134, room, ann));
        REQUEST_ROW(GetUserStats(ann), Body(36, ann));
        REQUEST_ROW(GetUserStatus(ann), Body(7, ann));
        REQUEST_ROW(SendRoomChat(room, "h\u00e9llo"), Body(13, room, QString("h\u00e9llo")));
        REQUEST_ROW(GiveUpPrivateRoomMembership(room), Body(136, room));
        REQUEST_ROW(AddPrivateRoomOperator(room, ann), Body(143, room, ann));
        REQUEST_ROW(BannedUser(ann), Body(132, ann));
        REQUEST_ROW(SetRoomTicker(room, "tick"), Body(116, room, QString("tick")));
        REQUEST_ROW(SendDNetGroupLeader(ann), Body(127, ann));
        REQUEST_ROW(GiftPrivileges(ann, 30), Body(123, ann, qint32(30)));
        REQUEST_ROW(RemovePrivateRoomOperator(room, ann), Body(144, room, ann));
        REQUEST_ROW(SendUploadSpeed(123456), Body(121, qint32(123456)));
        REQUEST_ROW(GiveUpPrivateRoom(room), Body(137, room));
        REQUEST_ROW(GetSearchCorrelations(tune), Body(153, tune));
    }

    void requestWritesItsCodeAndFields()
    {
        QFETCH(Request, request);
        QFETCH(QByteArray, body);
        request(*server);
        QCOMPARE(Sent(), QList<QByteArray>{body});
    }

    // Requests tied to a mark in the store go only as the mark allows.
    void marksDecideWhatIsSent()
    {
        server->TrackUser(ann);
        server->TrackUser(ann);
        server->AddUser(bob);
        server->AddUser(bob);
        server->UntrackUser(bob); // added, never tracked
        server->GetUserAddress(ann);
        server->GetUserAddress(ann);
        ItemPtr den = d.GetType(ServerTypes::room)->GetItem(Value(room));
        server->LeaveRoom(room); // known, not in it
        den.NewItem(ServerTypes::inRoom);
        server->LeaveRoom(room);
        QCOMPARE(Sent(), (QList<QByteArray>{Body(5, ann), Body(5, bob), Body(5, bob), Body(3, ann),
                                            Body(15, room)}));
        // in_room goes with the server's confirmation, not with the request.
        QVERIFY(!den.HasItem(ServerTypes::inRoom).IsNull());

        server->UntrackUser(ann);
        server->UntrackUser(ann);
        server->TrackUser(ann);
        User(ann).Disconnect(ServerTypes::userAddressRequest); // as the address reply does
        server->GetUserAddress(ann);
        QCOMPARE(Sent(), (QList<QByteArray>{Body(6, ann), Body(5, ann), Body(3, ann)}));
    }

    void privateChatGoesAsOneLine()
    {
        QSignalSpy chatSent(server, &Server::PrivateChatSent);
        server->SendPrivateChat(ann, "one\r\ntwo\nthree\rfour");
        const QString line = "one  two three four";
        QCOMPARE(Sent(), QList<QByteArray>{Body(22, ann, line)});
        QCOMPARE(chatSent, (QList<QVariantList>{{ann, line}}));
    }

    void requestsWhileNotLoggedInKeepOnlyTheirStoreChanges()
    {
        // Connecting, with the login unanswered: the link is up, so a leaked request would arrive.
        server->Disconnect();
        fake.SetLoginReply(FakeCentralServer::NoLoginReply);
        server->Connect();
        QVERIFY(fake.WaitForCode(1));
        fake.ClearMessages();
        Settings::Set(ServerSettings::acceptRoomList, "no");
        QSignalSpy chatSent(server, &Server::PrivateChatSent);

        server->GetRoomList();
        server->TrackUser(ann);
        server->GetUserAddress(bob);
        server->SendPrivateChat(ann, "hi");
        server->EnterRoom(room, false);
        QCOMPARE(server->FileSearch("tune", false), 1u);

        QCOMPARE(Settings::GetText(ServerSettings::acceptRoomList), QString("yes"));
        QCOMPARE(SearchText(1), QString("tune"));
        QCOMPARE(chatSent.size(), 0);

        // Once logged in, only the follow-up's re-announcements of the kept marks go out.
        QSignalSpy connected(server, &Server::Connected);
        fake.Send(1, true, QString("Welcome"), quint32(0x0100007f), QString(), false);
        QVERIFY(connected.wait());
        QCOMPARE(Sent(), (QList<QByteArray>{Body(5, ann), Body(3, bob)}));
    }

    void searchTokensRunApartFromConnectionTokens()
    {
        QCOMPARE(server->FileSearch("a", false), 1u);
        QCOMPARE(server->SendIndirectConnectionRequest(ann, "P"), 1u);
        QCOMPARE(server->SearchRoom(room, "b"), 2u);
        QCOMPARE(server->SendIndirectConnectionRequest(bob, "F"), 2u);
        QCOMPARE(server->SearchUserList("c"), 3u); // nobody online: a record, no message
        QCOMPARE(Sent(), (QList<QByteArray>{
                             Body(26, 1u, QString("a")), Body(18, 1u, ann, QString("P")),
                             Body(120, room, 2u, QString("b")), Body(18, 2u, bob, QString("F"))}));
        QCOMPARE((QStringList{SearchText(1), SearchText(2), SearchText(3)}),
                 (QStringList{"a", "b", "c"}));
    }

    void wishListSearchIsLowPriorityAndMarked()
    {
        QSignalSpy requested(server, &Server::SearchRequested);
        const quint32 wish = server->FileSearch(tune, true);
        const quint32 plain = server->FileSearch(tune, false);
        QCOMPARE(Sent(), (QList<QByteArray>{Body(103, wish, tune), Body(26, plain, tune)}));
        QCOMPARE(requested, (QList<QVariantList>{{wish, tune, true}, {plain, tune, false}}));

        QVERIFY(!Search(wish).HasItem(PeerTypes::wishlistSearch).IsNull());
        QVERIFY(Search(plain).HasItem(PeerTypes::wishlistSearch).IsNull());
        QCOMPARE(Search(wish).HasItem(PeerTypes::searchRequestText).Get(),
                 Search(plain).HasItem(PeerTypes::searchRequestText).Get());
        QCOMPARE(d.GetType(PeerTypes::searchRequestText)->ItemCount(), size_t(1));
    }

    void userListSearchGoesToOnlineListedUsers()
    {
        for (const char* name : {"ann", "bob", "carl"})
            User(name).NewItem(ServerTypes::inUserList);
        for (const char* name : {"bob", "carl", "dora"}) // dora is not in the list
            User(name).NewItem(ServerTypes::isOnline);
        const quint32 token = server->SearchUserList(tune);
        QList<QByteArray> sent = Sent();
        std::sort(sent.begin(), sent.end()); // the store's order is not the list's
        QCOMPARE(sent, (QList<QByteArray>{Body(42, bob, token, tune),
                                          Body(42, QString("carl"), token, tune)}));
    }
};

QTEST_MAIN(ServerRequestsTest)
#include "tst_requests.moc"
