#include <functional>
#include <list>
#include <memory>

#include <QtTest>

#include "Data.h"

namespace {
// Logs what it hears as "<source>: <event>", where the event is +x (added), -x (removed), a+b
// (connected) or a-b (disconnected), then hands the item of an added or removed event to `react`.
struct Recorder : DataHandler
{
    Recorder(QStringList& log, const QString& source) : log(log), source(source + ": ") {}

    void Watch(Event<ItemPtr>& added, Event<ItemPtr>& removed)
    {
        Listen(added, this, &Recorder::OnItem<'+'>), Listen(removed, this, &Recorder::OnItem<'-'>);
    }
    void Watch(Type* type)
    {
        Watch(type->itemAdded, type->itemRemoved);
        Listen(type->connected, this, &Recorder::OnPair<'+', ConnectionInfo>);
        Listen(type->disconnected, this, &Recorder::OnPair<'-', ConnectionInfo>);
    }
    void Watch(Data& store, Type* a, Type* b)
    {
        store.AddConnectionHandler(a, b, this, &Recorder::OnPair<'+', ConnectionInfo&>);
        store.AddDisconnectionHandler(a, b, this, &Recorder::OnPair<'-', ConnectionInfo&>);
    }
    template <char Sign> void OnItem(ItemPtr item)
    {
        log << source + Sign + item.AsString(), react(item);
    }
    template <char Sign, class Info> void OnPair(Info info)
    {
        log << source + info.from.AsString() + Sign + info.to.AsString();
    }

    QStringList& log;
    const QString source;
    std::function<void(ItemPtr)> react = [](ItemPtr) {};
};

// Users in rooms, each with one status; every event source has a recorder named after it.
struct Club
{
    Data store;
    Type* user = store.NewType("user", PrimacyRoot, false, false);
    Type* room = store.NewType("room", PrimacyRoot, false, true);
    Type* status = store.NewType("status", PrimacyLeaf, false, true);
    ItemPtr alice = user->NewItem("alice"), bob = user->NewItem("bob");
    ItemPtr lobby = room->NewItem("lobby");
    ItemPtr away = status->NewItem("away"), busy = status->NewItem("busy");
    QStringList log;
    std::list<Recorder> recorders;

    Club()
    {
        user->RelateToType(room, Many, Many, false);
        user->RelateToType(status, Many, One, false);
        alice += away, bob += lobby;
        for (Type* type : {user, room, status})
            recorders.emplace_back(log, type->name.c_str()).Watch(type);
        recorders.emplace_back(log, "store").Watch(store.itemAdded, store.itemRemoved);
        recorders.emplace_back(log, "user/room").Watch(store, user, room);
        recorders.emplace_back(log, "room/user").Watch(store, room, user);
    }
};

using Operation = std::function<void(Club&)>;
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
#define OPERATION(name, call, ...)                                                                 \
    QTest::newRow(name) << Operation([](Club& c) { call; }) << QStringList{__VA_ARGS__}
        OPERATION("user joins room", c.alice += c.lobby, "user: alice+lobby", "room: lobby+alice",
                  "user/room: alice+lobby", "room/user: lobby+alice");
        OPERATION("room takes user", c.lobby += c.alice, "room: lobby+alice", "user: alice+lobby",
                  "room/user: lobby+alice", "user/room: alice+lobby");
        OPERATION("unconnected pair disconnects", c.lobby.Disconnect(c.alice), "room: lobby-alice",
                  "user: alice-lobby", "room/user: lobby-alice", "user/room: alice-lobby");
        OPERATION("held status reconnects", c.alice += c.away);
        OPERATION("new status replaces old", c.alice += c.busy, "user: alice-away",
                  "status: away-alice", "user: alice+busy", "status: busy+alice");
        OPERATION("status claims user", c.busy += c.alice, "user: alice-away", "status: away-alice",
                  "status: busy+alice", "user: alice+busy");
        OPERATION("new user", c.user->NewItem("carol"), "user: +carol", "store: +carol");
        OPERATION("existing user", c.user->NewItem("alice"));
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

    // While announced, the item is out of the index but keeps its partners.
    void removalAnnouncesUnindexedItemThenDisconnectsEachPartner()
    {
        Club c;
        c.alice += c.lobby;
        ItemPtr hall = c.alice += c.room->NewItem("hall");
        c.recorders.front().react = [&c](ItemPtr item) {
            c.log << item["status"].AsString() + QString::number(c.user->HasItem("alice") ||
                                                                 c.user->GetItems().Contains(item));
        };
        // Partners go in connection-map order, so the expectation is built from that map.
        QStringList expected{"user: -alice", "away0", "store: -alice"};
        for (const TypeItemsMap::Entry& entry : c.alice->connections)
            entry.items.ForEach([&](ItemPtr to) {
                const QString name = to.AsString(), type = to->type->name.c_str();
                expected << "user: alice-" + name << type + ": " + name + "-alice";
                if (to->type == c.room)
                    expected << "user/room: alice-" + name << "room/user: " + name + "-alice";
            });
        c.log.clear();
        c.alice.Remove();
        QCOMPARE(c.log, expected);
        QVERIFY(hall.IsDisconnectedFromAll() && c.away.IsDisconnectedFromAll());
    }

    // A handler that hears the old status go and makes the new connection itself, before the
    // replacing one finishes: the connection is announced once and the store is left whole.
    void connectionMadeByAReplacedPartnersHandlerIsAnnouncedOnce()
    {
        struct Eager : DataHandler
        {
            explicit Eager(Club& club) : club(club)
            {
                Listen(club.user->disconnected, this, &Eager::OnUserDisconnected);
            }
            void OnUserDisconnected(ConnectionInfo info)
            {
                if (info.to == club.away)
                    club.busy += club.alice;
            }
            Club& club;
        };
        Club c;
        Eager eager(c);
        c.log.clear();
        c.busy += c.alice; // from the status end: alice leaves away
        QCOMPARE(c.log.filter("busy").size(), 2);
        QCOMPARE(c.log.filter("status: busy+alice").size(), 1);
        QCOMPARE(c.log.filter("user: alice+busy").size(), 1);
        QVERIFY(c.alice["status"] == c.busy && c.away.IsDisconnectedFromAll());
        QVERIFY(c.busy.IsConnected(c.alice) && c.alice.IsConnected(c.busy));
    }

    // Whichever runs first destroys the other; on carol it re-raises the event from inside its
    // handler, then registers `late`. Neither walk may call the destroyed owner.
    void walkCallsOnlyHandlersPresentAtItsStartAndStillAlive()
    {
        Club c;
        QStringList log;
        Recorder late(log, "late");
        std::unique_ptr<Recorder> both[2];
        for (int index : {0, 1})
        {
            (both[index] = std::make_unique<Recorder>(log, "survivor"))->react = [&, index](
                                                                                     ItemPtr item) {
                both[1 - index].reset();
                if (item.AsStdString() == "carol")
                    c.user->NewItem("child"), late.Watch(c.user->itemAdded, c.user->itemRemoved);
            };
            both[index]->Watch(c.user->itemAdded, c.user->itemRemoved);
        }
        c.user->NewItem("carol");
        QCOMPARE(log, (QStringList{"survivor: +carol", "survivor: +child"}));
        c.user->NewItem("dave");
        log.sort();
        QCOMPARE(log, (QStringList{"late: +dave", "survivor: +carol", "survivor: +child",
                                   "survivor: +dave"}));
        QCOMPARE(c.user->itemAdded.Size(), size_t(3)); // the club's recorder, survivor and late
    }

    // A view may drop its handlers early and again when it is destroyed; the events delete
    // handlers once marked, so the second call must not reach them.
    void handlersRemovedTwiceAreTouchedOnce()
    {
        Club c;
        QStringList log;
        auto early = std::make_unique<Recorder>(log, "early");
        early->Watch(c.user->itemAdded, c.user->itemRemoved);
        early->RemoveDataHandlers();
        c.user->NewItem("carol"); // the event deletes the marked handler here
        QVERIFY(early->handlers.empty());
        early->RemoveDataHandlers();
        early.reset();
        c.user->NewItem("dave");
        QCOMPARE(log, QStringList());
    }
};

QTEST_GUILESS_MAIN(StoreEventsTest)
#include "tst_events.moc"
