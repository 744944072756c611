#include <functional>
#include <memory>

#include <QtTest>

#include "Data.h"

namespace {
QString Label(ItemPtr item)
{
    return item->value.Empty() ? QString::fromStdString(item->type->name) : item.AsString();
}

// Writes every event it receives to a shared log, prefixed with where it listens.
class Recorder : public DataHandler
{
public:
    Recorder(QStringList& log, const QString& source) : log(log), source(source) {}

    void WatchType(Type* type)
    {
        Listen(type->itemAdded, this, &Recorder::OnAdded);
        Listen(type->itemRemoved, this, &Recorder::OnRemoved);
        Listen(type->connected, this, &Recorder::OnConnected);
        Listen(type->disconnected, this, &Recorder::OnDisconnected);
    }
    void WatchStore(Data& store)
    {
        Listen(store.itemAdded, this, &Recorder::OnAdded);
        Listen(store.itemRemoved, this, &Recorder::OnRemoved);
    }
    void WatchPair(Data& store, Type* a, Type* b)
    {
        store.AddConnectionHandler(a, b, this, &Recorder::OnPairConnected);
        store.AddDisconnectionHandler(a, b, this, &Recorder::OnPairDisconnected);
    }

private:
    void Write(const QString& what, const QString& items) { log << source + ' ' + what + items; }
    void OnAdded(ItemPtr item) { Write("added ", Label(item)); }
    void OnRemoved(ItemPtr item) { Write("removed ", Label(item)); }
    void OnConnected(ConnectionInfo info) { Write("connected ", Pair(info)); }
    void OnDisconnected(ConnectionInfo info) { Write("disconnected ", Pair(info)); }
    void OnPairConnected(ConnectionInfo& info) { Write("connected ", Pair(info)); }
    void OnPairDisconnected(ConnectionInfo& info) { Write("disconnected ", Pair(info)); }
    static QString Pair(const ConnectionInfo& info)
    {
        return Label(info.from) + "->" + Label(info.to);
    }

    QStringList& log;
    const QString source;
};

// Users in rooms, each with one status and possibly the shared online mark, and
// friends among themselves; every event source has its own recorder.
struct Club
{
    Data store;
    Type* user = store.NewType("user", PrimacyRoot, false, false);
    Type* room = store.NewType("room", PrimacyRoot, false, true);
    Type* status = store.NewType("status", PrimacyLeaf, false, true);
    Type* online = store.NewType("is_online", PrimacyLeaf, true, false);
    QStringList log;
    Recorder users{log, "user"}, rooms{log, "room"}, statuses{log, "status"};
    Recorder marks{log, "is_online"}, everything{log, "store"};
    Recorder userRoom{log, "pair(user,room)"}, roomUser{log, "pair(room,user)"};
    Recorder friends{log, "pair(user,user)"};
    ItemPtr alice, bob, lobby, away, busy;

    Club()
    {
        user->RelateToType(room, Many, Many, false);
        user->RelateToType(status, Many, One, false);
        user->RelateToType(online, Many, One, false);
        user->RelateToType(user, Many, Many, false);
        alice = user->NewItem("alice");
        bob = user->NewItem("bob");
        lobby = room->NewItem("lobby");
        away = status->NewItem("away");
        busy = status->NewItem("busy");
        alice += away;
        bob += lobby;
        users.WatchType(user);
        rooms.WatchType(room);
        statuses.WatchType(status);
        marks.WatchType(online);
        everything.WatchStore(store);
        userRoom.WatchPair(store, user, room);
        roomUser.WatchPair(store, room, user);
        friends.WatchPair(store, user, user);
    }
};

using Operation = std::function<void(Club&)>;

// Hands every item of an event to a callback of the test.
class Reactor : public DataHandler
{
public:
    Reactor(Event<ItemPtr>& event, std::function<void(ItemPtr)> react) : react(std::move(react))
    {
        Listen(event, this, &Reactor::OnAdded);
    }

private:
    void OnAdded(ItemPtr item) { react(item); }

    std::function<void(ItemPtr)> react;
};
} // namespace

Q_DECLARE_METATYPE(Operation)

class StoreEventsTest : public QObject
{
    Q_OBJECT

private slots:
    void storeOperationsRaiseEventsInOrder_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QStringList>("events");
#define OPERATION(name, call) QTest::newRow(name) << Operation([](Club& c) { call; })
        OPERATION("user joins room", c.alice += c.lobby) << QStringList{
            "user connected alice->lobby", "room connected lobby->alice",
            "pair(user,room) connected alice->lobby", "pair(room,user) connected lobby->alice"};
        OPERATION("room takes user", c.lobby += c.alice) << QStringList{
            "room connected lobby->alice", "user connected alice->lobby",
            "pair(room,user) connected lobby->alice", "pair(user,room) connected alice->lobby"};
        OPERATION("user leaves room", c.bob -= c.lobby) << QStringList{
            "user disconnected bob->lobby", "room disconnected lobby->bob",
            "pair(user,room) disconnected bob->lobby", "pair(room,user) disconnected lobby->bob"};
        OPERATION("unconnected pair disconnects", c.lobby.Disconnect(c.alice))
            << QStringList{"room disconnected lobby->alice", "user disconnected alice->lobby",
                           "pair(room,user) disconnected lobby->alice",
                           "pair(user,room) disconnected alice->lobby"};
        OPERATION("connected pair reconnects", c.bob += c.lobby) << QStringList{};
        OPERATION("held status reconnects", c.alice += c.away) << QStringList{};
        OPERATION("new status replaces old", c.alice += c.busy)
            << QStringList{"user disconnected alice->away", "status disconnected away->alice",
                           "user connected alice->busy", "status connected busy->alice"};
        OPERATION("status claims user", c.busy += c.alice)
            << QStringList{"user disconnected alice->away", "status disconnected away->alice",
                           "status connected busy->alice", "user connected alice->busy"};
        OPERATION("users befriend", c.alice += c.bob) << QStringList{
            "user connected alice->bob", "user connected bob->alice",
            "pair(user,user) connected alice->bob", "pair(user,user) connected bob->alice"};
        OPERATION("new user", c.user->NewItem("carol"))
            << QStringList{"user added carol", "store added carol"};
        OPERATION("existing user", c.user->NewItem("alice")) << QStringList{};
        OPERATION("auto-created status", c.status->GetItem("idle"))
            << QStringList{"status added idle", "store added idle"};
        OPERATION("first mark attached", c.alice.NewItem("is_online")) << QStringList{
            "is_online added is_online", "store added is_online", "user connected alice->is_online",
            "is_online connected is_online->alice"};
        OPERATION("shared mark attached", c.alice.NewItem("is_online"); c.log.clear();
                  c.bob.NewItem("is_online"))
            << QStringList{"user connected bob->is_online", "is_online connected is_online->bob"};
#undef OPERATION
    }

    void storeOperationsRaiseEventsInOrder()
    {
        QFETCH(Operation, operation);
        QFETCH(QStringList, events);
        Club c;
        operation(c);
        QCOMPARE(c.log, events);
    }

    void removalAnnouncesItemBeforeEachDisconnection()
    {
        Club c;
        ItemPtr hall = c.room->NewItem("hall");
        c.alice += c.lobby;
        c.alice += hall;
        // Partners go in connection-map order, so the expectation is built from that map.
        QStringList expected{"user removed alice", "store removed alice"};
        TypeItemsMap partners;
        c.alice->GetConnectedItems(partners);
        for (const TypeItemsMap::Entry& entry : partners)
            entry.items.ForEach([&](ItemPtr partner) {
                const QString other = QString::fromStdString(partner->type->name);
                const QString to = Label(partner);
                expected << "user disconnected alice->" + to
                         << other + " disconnected " + to + "->alice";
                if (partner->type == c.room)
                    expected << "pair(user,room) disconnected alice->" + to
                             << "pair(room,user) disconnected " + to + "->alice";
            });
        QCOMPARE(expected.size(), 2 + 4 + 4 + 2);
        c.log.clear();
        c.alice.Remove();
        QCOMPARE(c.log, expected);
        QVERIFY(hall.IsDisconnectedFromAll() && c.away.IsDisconnectedFromAll());
        QCOMPARE(c.room->ItemCount(), size_t(2)); // partners outlive the item
    }

    void removedItemIsUnindexedButReadableWhileAnnounced()
    {
        Club c;
        c.alice += c.lobby;
        QStringList seen;
        Reactor watcher(c.user->itemRemoved, [&](ItemPtr item) {
            seen << Label(item) << Label(item["room"]) << Label(item["status"])
                 << QString::number(item->type->HasItem("alice") != nullptr)
                 << QString::number(item->type->GetItems().Contains(item));
        });
        c.alice.Remove();
        QCOMPARE(seen, (QStringList{"alice", "lobby", "away", "0", "0"}));
        QCOMPARE(c.lobby.GetItems("user").Size(), size_t(1));
        QCOMPARE(c.lobby["user"], c.bob);
        QVERIFY(c.away.IsDisconnectedFromAll());
        QCOMPARE(c.user->HasItem("alice"), nullptr);
    }

    void ownerDestroyedEarlierInWalkIsNotCalled()
    {
        Data store;
        Type* user = store.NewType("user", PrimacyRoot, false, false);
        QStringList log;
        std::unique_ptr<Reactor> first, second;
        // Whichever runs first destroys the other; set order decides which that is.
        first = std::make_unique<Reactor>(user->itemAdded, [&](ItemPtr item) {
            log << "first " + Label(item);
            second.reset();
        });
        second = std::make_unique<Reactor>(user->itemAdded, [&](ItemPtr item) {
            log << "second " + Label(item);
            first.reset();
        });
        user->NewItem("alice");
        QCOMPARE(log.size(), 1);
        const QString survivor = log.first().section(' ', 0, 0);
        user->NewItem("bob");
        user->NewItem("carol");
        QCOMPARE(log, (QStringList{survivor + " alice", survivor + " bob", survivor + " carol"}));
        QCOMPARE(user->itemAdded.Size(), size_t(1)); // the retired handler is gone by now
    }

    void handlerRegisteredDuringWalkRunsFromNextNotification()
    {
        Data store;
        Type* user = store.NewType("user", PrimacyRoot, false, false);
        QStringList log;
        std::unique_ptr<Recorder> late;
        Reactor recruiter(user->itemAdded, [&](ItemPtr item) {
            log << "recruiter " + Label(item);
            if (late)
                return;
            late = std::make_unique<Recorder>(log, "late");
            late->WatchType(user);
        });
        user->NewItem("alice");
        QCOMPARE(log, QStringList{"recruiter alice"});
        user->NewItem("bob");
        log.sort();
        QCOMPARE(log, (QStringList{"late added bob", "recruiter alice", "recruiter bob"}));
    }

    void nestedNotificationRunsInsideOuterHandler()
    {
        Data store;
        Type* user = store.NewType("user", PrimacyRoot, false, false);
        QStringList log;
        Recorder everything(log, "store");
        everything.WatchStore(store);
        std::unique_ptr<Reactor> victim;
        // On the parent, the spawner retires the victim and then raises the same event again:
        // both walks hold the victim's handler, neither may call it.
        Reactor spawner(user->itemAdded, [&](ItemPtr item) {
            log << "spawner saw " + Label(item);
            victim.reset();
            if (item.AsStdString() == "parent")
                user->NewItem("child");
            log << "spawner done " + Label(item);
        });
        // Walks follow handler addresses; the victim must come after the spawner so that the
        // outer walk still meets it once the inner walk has dropped it.
        const std::less<const void*> before;
        for (int attempt = 0; attempt < 64; ++attempt)
        {
            victim = std::make_unique<Reactor>(
                user->itemAdded, [&log](ItemPtr item) { log << "victim saw " + Label(item); });
            if (before(*spawner.handlers.begin(), *victim->handlers.begin()))
                break;
        }
        QVERIFY(before(*spawner.handlers.begin(), *victim->handlers.begin()));
        user->NewItem("parent");
        QCOMPARE(log,
                 (QStringList{"spawner saw parent", "spawner saw child", "spawner done child",
                              "store added child", "spawner done parent", "store added parent"}));
        log.clear();
        user->NewItem("other");
        user->NewItem("another");
        QCOMPARE(log, (QStringList{"spawner saw other", "spawner done other", "store added other",
                                   "spawner saw another", "spawner done another",
                                   "store added another"}));
        QCOMPARE(user->itemAdded.Size(), size_t(1));
    }

    void destroyedOwnersAreNeverCalledAgain()
    {
        Club c;
        auto gone = std::make_unique<Recorder>(c.log, "gone");
        gone->WatchType(c.user);
        gone->WatchType(c.room);
        gone->WatchStore(c.store);
        gone->WatchPair(c.store, c.user, c.room);
        gone.reset();
        QStringList expected;
        for (const QString name : {"dave", "erin"})
        {
            ItemPtr someone = c.user->NewItem(name);
            someone += c.lobby;
            someone.Remove();
            const QString to = name + "->lobby", from = "lobby->" + name;
            expected << "user added " + name << "store added " + name << "user connected " + to
                     << "room connected " + from << "pair(user,room) connected " + to
                     << "pair(room,user) connected " + from << "user removed " + name
                     << "store removed " + name << "user disconnected " + to
                     << "room disconnected " + from << "pair(user,room) disconnected " + to
                     << "pair(room,user) disconnected " + from;
        }
        QCOMPARE(c.log, expected);
    }

    void pairHandlerNeedsRelatedTypes()
    {
        Club c;
        Recorder stranger(c.log, "stranger");
        QVERIFY_EXCEPTION_THROWN(stranger.WatchPair(c.store, c.room, c.status),
                                 NotRelatedException);
        QVERIFY(stranger.handlers.empty());
    }
};

QTEST_GUILESS_MAIN(StoreEventsTest)
#include "tst_events.moc"
