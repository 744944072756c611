#include <climits>
#include <functional>
#include <memory>

#include <QtTest>

#include "Data.h"

namespace {
QString Label(ItemPtr item)
{
    if (item.IsNull())
        return "null";
    return item->value.Empty() ? QString::fromStdString(item->type->name) : item.AsString();
}

QByteArray BytesOf(const Value& value)
{
    return QByteArray(value.Bytes().data(), static_cast<int>(value.Bytes().size()));
}

// Counts every creation and connection change of one type.
class EventCounter : public DataHandler
{
public:
    explicit EventCounter(Type* type)
    {
        Listen(type->itemAdded, this, &EventCounter::OnItem);
        Listen(type->connected, this, &EventCounter::OnConnection);
        Listen(type->disconnected, this, &EventCounter::OnConnection);
    }

    int events = 0;

private:
    void OnItem(ItemPtr) { ++events; }
    void OnConnection(ConnectionInfo) { ++events; }
};

// Ends and ownership as seen from `type`, e.g. "One Many owns".
QString Relation(Type* type, Type* other)
{
    const RelationInfo relation = type->GetRelation(other);
    const char* ends[] = {"One", "Many"};
    return QString(ends[relation.thisEnd]) + ' ' + ends[relation.otherEnd] +
           (relation.owns ? " owns" : "") + (relation.ownedBy ? " ownedBy" : "");
}

struct People
{
    Data store;
    Type* user = store.NewType("user", PrimacyRoot, false, false);
    Type* room = store.NewType("room", PrimacyRoot, false, true);
    Type* status = store.NewType("status", PrimacyLeaf, false, true);
    Type* online = store.NewType("is_online", PrimacyLeaf, true, false); // shared yes/no mark
    Type* note = store.NewType("note", PrimacyLeaf, true, false);        // one record per user
    Type* tag = store.NewType("tag", PrimacyLeaf, true, false);          // many per user

    People()
    {
        user->RelateToType(room, Many, Many, false);
        user->RelateToType(status, Many, One, false);
        user->RelateToType(online, Many, One, false);
        user->RelateToType(note, One, One, true);
        user->RelateToType(tag, One, Many, false);
    }

    ItemPtr alice;

    void Populate()
    {
        alice = user->NewItem("alice");
        alice += room->NewItem("lobby");
        alice += status->NewItem("away");
        alice.NewItem("is_online");
        alice.NewItem("note");
    }

    ItemPtr Lobby() { return room->HasItem("lobby"); }

    // Types, relations, items and every item's partners, in a stable order.
    QStringList Describe()
    {
        QStringList lines;
        std::map<std::string, Type*> types;
        store.GetTypes(types);
        for (const auto& entry : types)
        {
            std::map<Type*, RelationInfo> relations;
            entry.second->GetRelatedTypes(relations);
            for (const auto& relation : relations)
                lines << QString::fromStdString(entry.first + '-' + relation.first->name + ' ') +
                             Relation(entry.second, relation.first);
            for (Item* item : entry.second->GetItemsInValueOrder())
            {
                QStringList partners;
                for (const TypeItemsMap::Entry& group : item->connections)
                    group.items.ForEach(
                        [&partners](ItemPtr partner) { partners << Label(partner); });
                partners.sort();
                lines << Label(item) + ": " + partners.join(',');
            }
        }
        return lines;
    }
};

using Misuse = std::function<void(People&)>;
using Check = bool (*)(const Misuse&, People&);

// True when the misuse throws Exception, false when it throws nothing or something else.
template <class Exception> bool Throws(const Misuse& misuse, People& p)
{
    try
    {
        misuse(p);
    }
    catch (const Exception&)
    {
        return true;
    }
    catch (...)
    {
        return false;
    }
    return false;
}
} // namespace

Q_DECLARE_METATYPE(Misuse)
Q_DECLARE_METATYPE(Check)

class StoreItemsTest : public QObject
{
    Q_OBJECT

private slots:
    void relatingTypesMirrorsEndsAndOwnership()
    {
        People p;
        p.room->RelateToType("status", One, Many);
        QCOMPARE(Relation(p.user, p.note), QString("One One owns"));
        QCOMPARE(Relation(p.note, p.user), QString("One One ownedBy"));
        QCOMPARE(Relation(p.user, p.status), QString("Many One"));
        QCOMPARE(Relation(p.status, p.user), QString("One Many"));
        QCOMPARE(Relation(p.status, p.room), QString("Many One"));
        std::set<Type*> owners;
        p.store.GetTypeOwningTypes(p.note, owners);
        p.store.GetTypeOwningTypes(p.user, owners);
        QCOMPARE(owners, std::set<Type*>{p.user});
    }

    void misuseThrowsAndLeavesStoreUnchanged_data()
    {
        QTest::addColumn<Misuse>("misuse");
        QTest::addColumn<Check>("throws");
#define MISUSE(name, call, thrown)                                                                 \
    QTest::newRow(name) << Misuse([](People& p) { call; }) << Check(&Throws<thrown##Exception>)
        MISUSE("type declared twice", p.store.NewType("user", PrimacyLeaf, true, true),
               TypeAlreadyExists);
        MISUSE("unknown type", p.store.GetType("users"), TypeNotFound);
        MISUSE("relation declared twice", p.user->RelateToType(p.room, One, One, true),
               AlreadyRelated);
        MISUSE("relation declared from the other end", p.room->RelateToType(p.user, One, One, true),
               AlreadyRelated);
        MISUSE("relation to unknown name", p.room->RelateToType("users", One, One), TypeNotFound);
        MISUSE("relation of unrelated types", p.room->GetRelation(p.status), NotRelated);
        MISUSE("unrelated items connected", p.Lobby() += p.status->HasItem("away"), NotRelated);
        MISUSE("unrelated type attached", p.Lobby().NewItem("tag"), NotRelated);
        MISUSE("valued type attached", p.alice.NewItem("status"), NullType);
        MISUSE("unknown type attached", p.alice.NewItem("notes"), TypeNotFound);
        MISUSE("attribute of unknown type", p.alice["rooms"], TypeNotFound);
        MISUSE("presence of unknown type", p.alice.IsConnected("rooms"), TypeNotFound);
        MISUSE("partners of unknown type dropped", p.alice.Disconnect("rooms"), TypeNotFound);
        MISUSE("value given to valueless type", p.online->NewItem("yes"), NullType);
        MISUSE("value looked up in valueless type", p.online->GetItem("yes"), NullType);
        MISUSE("value probed in valueless type", p.online->HasItem("yes"), NullType);
        MISUSE("valueless item of valued type", p.room->NewItem(), NullType);
        MISUSE("shared item of valued type", p.room->GetGlobalNullItem(), NullType);
#undef MISUSE
    }

    void misuseThrowsAndLeavesStoreUnchanged()
    {
        QFETCH(Misuse, misuse);
        QFETCH(Check, throws);
        People p;
        p.Populate();
        const QStringList before = p.Describe();
        QVERIFY(throws(misuse, p));
        QCOMPARE(p.Describe(), before);
    }

    void valueBytesAndNumberReadings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("asInt");
        QTest::addColumn<uint>("asUInt");
        QTest::addColumn<qlonglong>("asInt64");
        QTest::addColumn<qulonglong>("asUInt64");
        QTest::addColumn<QString>("asString");
        QTest::newRow("negative int")
            << BytesOf(-5) << QByteArray("-5") << -5 << 0u << -5LL << 0ULL << "-5";
        QTest::newRow("largest unsigned")
            << BytesOf(UINT_MAX) << QByteArray("4294967295") << 0 << UINT_MAX << 4294967295LL
            << 4294967295ULL << "4294967295";
        QTest::newRow("smallest long long")
            << BytesOf(LLONG_MIN) << QByteArray("-9223372036854775808") << 0 << 0u << LLONG_MIN
            << 0ULL << "-9223372036854775808";
        QTest::newRow("non-numeric text")
            << BytesOf("abc") << QByteArray("abc") << 0 << 0u << 0LL << 0ULL << "abc";
        QTest::newRow("minus one text")
            << BytesOf("-1") << QByteArray("-1") << -1 << 0u << -1LL << 0ULL << "-1";
        QTest::newRow("just above int")
            << BytesOf("2147483648") << QByteArray("2147483648") << 0 << 2147483648u << 2147483648LL
            << 2147483648ULL << "2147483648";
        QTest::newRow("text cut at NUL") << BytesOf(QString("12") + QChar(0) + "34")
                                         << QByteArray("12") << 12 << 12u << 12LL << 12ULL << "12";
        QTest::newRow("text as UTF-8")
            << BytesOf(QString::fromUtf8("n\xC3\xA9")) << QByteArray("n\xC3\xA9") << 0 << 0u << 0LL
            << 0ULL << QString::fromUtf8("n\xC3\xA9");
        QTest::newRow("invalid UTF-8 read as 8-bit")
            << BytesOf(std::string("n\xE9")) << QByteArray("n\xE9") << 0 << 0u << 0LL << 0ULL
            << QString::fromLatin1("n\xE9");
    }

    void valueBytesAndNumberReadings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QFETCH(int, asInt);
        QFETCH(uint, asUInt);
        QFETCH(qlonglong, asInt64);
        QFETCH(qulonglong, asUInt64);
        QFETCH(QString, asString);
        QCOMPARE(bytes, expected);
        Data store;
        ItemPtr item =
            store.NewType("number", PrimacyRoot, false, false)->NewItem(Value(bytes.toStdString()));
        QCOMPARE(QByteArray::fromStdString(item.AsStdString()), expected);
        QCOMPARE(item.AsInt(), asInt);
        QCOMPARE(item.AsUInt(), asUInt);
        QCOMPARE(item.AsInt64(), asInt64);
        QCOMPARE(item.AsUInt64(), asUInt64);
        QCOMPARE(item.AsString(), asString);
    }

    void pointerValueRoundTripsFullAddress()
    {
        // A block this large is mapped on its own, far above the first 4 GiB on 64-bit systems.
        auto block = std::make_unique<quint64[]>(1 << 19);
        const quint64 address = reinterpret_cast<quintptr>(block.get());
        QVERIFY2(address > UINT_MAX, "needs an address beyond 32 bits");
        Data store;
        ItemPtr item = store.NewType("buffer", PrimacyRoot, false, false)->NewItem(block.get());
        QCOMPARE(QByteArray::fromStdString(item.AsStdString()), QByteArray::number(address));
        QCOMPARE(item.AsPointer<quint64>(), block.get());
        QCOMPARE(item.AsUInt(), 0u);
        QObject object;
        ItemPtr keyed = item->type->NewItem(&object);
        QCOMPARE(keyed.AsPointer<QObject>(), &object);
        QCOMPARE(ItemPtr(item->type->HasItem(&object)), keyed);
    }

    void valuedItemsListInByteOrder_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("ordered");
        QTest::newRow("numbers sort as text")
            << QStringList{"9", "10", "100"} << QStringList{"10", "100", "9"};
        QTest::newRow("upper case first")
            << QStringList{"a", "B", "b", "A"} << QStringList{"A", "B", "a", "b"};
        QTest::newRow("prefix first")
            << QStringList{"ab", "a ", "a", ""} << QStringList{"", "a", "a ", "ab"};
        QTest::newRow("high bytes last") << QStringList{QString::fromUtf8("\xC3\xA9"), "z", "~"}
                                         << QStringList{"z", "~", QString::fromUtf8("\xC3\xA9")};
    }

    void valuedItemsListInByteOrder()
    {
        QFETCH(QStringList, values);
        QFETCH(QStringList, ordered);
        Data store;
        Type* word = store.NewType("word", PrimacyRoot, false, false);
        for (const QString& value : values)
            word->NewItem(value);
        QStringList listed;
        for (Item* item : word->GetItemsInValueOrder())
            listed << ItemPtr(item).AsString();
        QCOMPARE(listed, ordered);
    }

    void getOrCreateMakesEachValueOnce()
    {
        People p;
        EventCounter users(p.user);
        EventCounter rooms(p.room);
        ItemPtr alice = p.user->NewItem("alice");
        QCOMPARE(ItemPtr(p.user->NewItem("alice")), alice);
        QCOMPARE(users.events, 1);
        QCOMPARE((*p.user)["bob"], nullptr);
        QCOMPARE(p.user->HasItem("Alice"), nullptr);
        QCOMPARE(p.user->HasItem("alice "), nullptr);
        QCOMPARE(users.events, 1);

        QCOMPARE(p.room->HasItem("lobby"), nullptr);
        ItemPtr lobby = (*p.room)["lobby"];
        QCOMPARE(lobby.AsStdString(), std::string("lobby"));
        QCOMPARE(ItemPtr(p.room->GetItem("lobby")), lobby);
        QCOMPARE(rooms.events, 1);

        // Valueless types: every NewItem is a new item, the shared one is made once.
        ItemPtr first = p.tag->NewItem();
        ItemPtr second = p.tag->NewItem();
        QVERIFY(first != second);
        QVERIFY(first.AsStdString().empty() && second.AsStdString().empty());
        QCOMPARE(p.tag->GetItems().Size(), size_t(2));
        EventCounter marks(p.online);
        ItemPtr shared = p.online->GetGlobalNullItem();
        QCOMPARE(ItemPtr(p.online->GetGlobalNullItem()), shared);
        QCOMPARE(p.online->ItemCount(), size_t(1));
        QCOMPARE(marks.events, 1);
    }

    void attachingByTypeNameFollowsRelationEnds()
    {
        People p;
        ItemPtr alice = p.user->NewItem("alice");
        ItemPtr bob = p.user->NewItem("bob");
        p.online->NewItem();
        p.online->NewItem();
        ItemPtr shared = p.online->GetGlobalNullItem();
        QCOMPARE(shared, static_cast<ItemPtr>(p.online->GetItems()));

        EventCounter marks(p.online);
        QCOMPARE(alice.NewItem("is_online"), shared);
        QCOMPARE(bob.NewItem("is_online"), shared);
        QCOMPARE(marks.events, 2);
        QCOMPARE(alice.NewItem("is_online"), shared);
        QCOMPARE(marks.events, 2);
        QCOMPARE(p.online->ItemCount(), size_t(2));
        QVERIFY(shared.IsConnected(alice) && shared.IsConnected(bob));

        ItemPtr aliceNote = alice.NewItem("note");
        ItemPtr bobNote = bob.NewItem("note");
        QVERIFY(aliceNote != bobNote);
        QCOMPARE(alice.NewItem("note"), aliceNote);

        ItemPtr firstTag = alice.NewItem("tag");
        ItemPtr secondTag = alice.NewItem("tag");
        QVERIFY(firstTag != secondTag);
        QCOMPARE(alice.GetItems("tag").Size(), size_t(2));
    }

    void connectingHonoursOneEnds()
    {
        People p;
        ItemPtr alice = p.user->NewItem("alice");
        ItemPtr bob = p.user->NewItem("bob");
        ItemPtr away = p.status->NewItem("away");
        ItemPtr busy = p.status->NewItem("busy");
        ItemPtr lobby = p.room->NewItem("lobby");

        QCOMPARE((lobby += alice) += away, away);
        QVERIFY(alice.IsConnected(away) && away.IsConnected(alice));
        QVERIFY(alice.IsConnected(lobby) && lobby.IsConnected(alice));
        alice += busy;
        QCOMPARE(alice["status"], busy);
        QVERIFY(away.IsDisconnectedFromAll());
        QCOMPARE(alice.GetItems("status").Size(), size_t(1));

        // The note end is One too: a note given to bob leaves alice.
        ItemPtr note = alice.NewItem("note");
        note += bob;
        QVERIFY(!alice.IsConnected("note"));
        QCOMPARE(bob["note"], note);
        QCOMPARE(note.GetItems("user").Size(), size_t(1));

        // Lookups by an unrelated type name find nothing.
        QCOMPARE(lobby["status"], ItemPtr());
        QVERIFY(!lobby.IsConnected("status"));
        lobby.Disconnect("status");

        bob += lobby;
        alice.Disconnect(bob); // never connected: nothing changes
        QVERIFY(alice.IsConnected(lobby) && bob.IsConnected(lobby));
        QCOMPARE(lobby -= alice, alice);
        lobby.Disconnect("user");
        QVERIFY(lobby.IsDisconnectedFromAll());
        QVERIFY(!alice.IsConnected("room") && !bob.IsConnected("room"));
        QCOMPARE(alice["status"], busy);
    }

    void nullHandleReadsAreSafe()
    {
        const ItemPtr none;
        QVERIFY(none["no_such_type"].IsNull());
        QVERIFY(none.HasItem("no_such_type").IsNull());
        QVERIFY(none.AsString().isEmpty());
        QCOMPARE(none.AsStdString(), std::string());
        QCOMPARE(none.AsInt(), 0);
        QCOMPARE(none.AsUInt(), 0u);
        QCOMPARE(none.AsInt64(), 0LL);
        QCOMPARE(none.AsUInt64(), 0ULL);
        QCOMPARE(none.AsPointer<QObject>(), nullptr);
    }

    void globalLookupsNeverCreate()
    {
        Type* city = d.NewType("items_test_city", PrimacyRoot, false, true);
        Type* pin = d.NewType("items_test_pin", PrimacyLeaf, true, false);
        ItemPtr rome = city->NewItem("rome");
        ItemPtr first = pin->NewItem();
        ItemPtr second = pin->NewItem();
        QCOMPARE(g("items_test_city").Size(), size_t(1));
        QVERIFY(g("items_test_pin").Contains(first) && g("items_test_pin").Contains(second));
        QCOMPARE(ItemPtr(i("items_test_city", "rome")), rome);
        QVERIFY(i("items_test_city", "oslo").Empty());
        QVERIFY(i("items_test_city", "Rome").Empty());
        QCOMPARE(city->ItemCount(), size_t(1));
        QVERIFY_EXCEPTION_THROWN(g("items_test_town"), TypeNotFoundException);
        QVERIFY_EXCEPTION_THROWN(i("items_test_town", "rome"), TypeNotFoundException);
        QVERIFY_EXCEPTION_THROWN(i("items_test_pin", ""), NullTypeException);
        rome.Remove();
        QVERIFY(g("items_test_city").Empty());
        QVERIFY(i("items_test_city", "rome").Empty());
    }
};

QTEST_GUILESS_MAIN(StoreItemsTest)
#include "tst_items.moc"
