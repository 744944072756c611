#include <climits>
#include <memory>
#include <vector>

#include <QtTest>

#include "Data.h"

namespace {
struct People
{
    Data store;
    Type* user = store.NewType("user", PrimacyRoot, false, false);
    Type* room = store.NewType("room", PrimacyRoot, false, true);
    Type* status = store.NewType("status", PrimacyLeaf, false, true);
    Type* online = store.NewType("is_online", PrimacyLeaf, true, false); // shared yes/no mark
    Type* note = store.NewType("note", PrimacyLeaf, true, false);        // one record per user
    ItemPtr alice = user->NewItem("alice"), bob = user->NewItem("bob");
    ItemPtr lobby = room->NewItem("lobby");
    ItemPtr away = status->NewItem("away"), busy = status->NewItem("busy");

    People()
    {
        user->RelateToType(room, Many, Many, false);
        user->RelateToType(status, Many, One, false);
        user->RelateToType(online, Many, One, false);
        user->RelateToType(note, One, One, true);
    }

    // Every relation, item and partner; stable while the store does not change.
    QString Describe() const
    {
        QString text;
        std::map<std::string, Type*> types;
        store.GetTypes(types);
        for (const auto& [name, type] : types)
        {
            for (const auto& [otherName, other] : types)
                if (const RelationInfo* relation = type->FindRelation(other))
                    text += QString::asprintf("\n%s-%s %d%d%d%d", name.c_str(), otherName.c_str(),
                                              relation->thisEnd, relation->otherEnd, relation->owns,
                                              relation->ownedBy);
            for (Item* item : type->GetItemsInValueOrder())
            {
                text += QString::fromStdString('\n' + name + ' ' + item->value.Bytes() + ':');
                for (const TypeItemsMap::Entry& group : item->connections)
                    group.items.ForEach([&](ItemPtr partner) { text += ' ' + partner.AsString(); });
            }
        }
        return text;
    }
};
} // namespace

class StoreItemsTest : public QObject
{
    Q_OBJECT

private slots:
    void misuseThrowsByValueAndLeavesStoreUnchanged()
    {
        People p;
        p.alice += p.away;
        p.alice.NewItem("is_online");
        const QString before = p.Describe();
        QVERIFY_EXCEPTION_THROWN(p.store.NewType("user", PrimacyLeaf, true, true),
                                 TypeAlreadyExistsException);
        QVERIFY_EXCEPTION_THROWN(p.status->RelateToType(p.user, One, One, true),
                                 AlreadyRelatedException);
        QVERIFY_EXCEPTION_THROWN(p.away += p.lobby, NotRelatedException);
        QVERIFY_EXCEPTION_THROWN(p.alice.NewItem("status"), NullTypeException);
        QVERIFY_EXCEPTION_THROWN(p.online->NewItem("yes"), NullTypeException);
        QCOMPARE(p.Describe(), before);
    }

    // Stored values read back as text and numbers, order by bytes, and a null handle reads empty.
    void valuesReadBackAndOrderByBytes()
    {
        Data store;
        Type* number = store.NewType("number", PrimacyRoot, false, false);
        // Text, int, unsigned int, 64-bit int and 64-bit unsigned readings of one stored value.
        const auto read = [](ItemPtr item) {
            return item.AsString() + QString::asprintf("|%d|%u|%lld|%llu", item.AsInt(),
                                                       item.AsUInt(), item.AsInt64(),
                                                       item.AsUInt64());
        };
        const auto make = [&](const Value& value) { return read(number->NewItem(value)); };
        QCOMPARE(make(-5), QString("-5|-5|0|-5|0"));
        QCOMPARE(make("abc"), QString("abc|0|0|0|0"));
        QCOMPARE(make("-1"), QString("-1|-1|0|-1|0"));
        QCOMPARE(make(UINT_MAX), QString("4294967295|0|4294967295|4294967295|4294967295"));
        QCOMPARE(make(QString::fromUtf8("n\xC3\xA9")), QString::fromUtf8("n\xC3\xA9|0|0|0|0"));
        QCOMPARE(make(std::string("n\xE9")), QString::fromLatin1("n\xE9|0|0|0|0"));
        QCOMPARE(Value(QString("12") + QChar(0) + "34").Bytes(), std::string("12"));
        const ItemPtr none;
        QCOMPARE(read(none), QString("|0|0|0|0"));
        QVERIFY(none["no_such_type"].IsNull() && none.HasItem("no_such_type").IsNull());
        QVERIFY(none.AsStdString().empty() && none.AsPointer<QObject>() == nullptr);
        QVERIFY(!none.IsConnected("no_such_type") && !none.IsConnected(none));

        // A block this large is mapped on its own, far above the first 4 GiB on 64-bit systems.
        auto block = std::make_unique<quint64[]>(1 << 19);
        QVERIFY2(reinterpret_cast<quintptr>(block.get()) > UINT_MAX, "needs a 64-bit address");
        Type* buffer = store.NewType("buffer", PrimacyRoot, false, false);
        ItemPtr item = buffer->NewItem(block.get());
        QCOMPARE(item.AsPointer<quint64>(), block.get());
        QCOMPARE(ItemPtr(buffer->HasItem(block.get())), item);

        Type* word = store.NewType("word", PrimacyRoot, false, false);
        for (const char* value : {"9", "a", "10", "\xC3\xA9", "B", "", "ab", "a "})
            word->NewItem(value);
        QStringList listed;
        for (Item* item : word->GetItemsInValueOrder())
            listed << ItemPtr(item).AsString();
        QCOMPARE(listed, (QStringList{"", "10", "9", "B", "a", "a ", "ab", "\u00e9"}));
    }

    void eachValueAndSharedMarkIsMadeOnce()
    {
        People p;
        QCOMPARE(ItemPtr(p.user->NewItem("alice")), p.alice);
        QVERIFY((*p.user)["carol"] == nullptr && p.user->ItemCount() == 2);
        ItemPtr hall = (*p.room)["hall"]; // rooms are made on first lookup
        QCOMPARE(ItemPtr(p.room->GetItem("hall")), hall);
        QCOMPARE(p.room->ItemCount(), size_t(2));
        // Attaching by type name: the mark is shared by all users, a note is each user's own.
        ItemPtr shared = p.alice.NewItem("is_online");
        QCOMPARE(ItemPtr(p.online->GetGlobalNullItem()), shared);
        QCOMPARE(p.bob.NewItem("is_online"), shared);
        QVERIFY(shared.IsConnected(p.alice) && shared.IsConnected(p.bob));
        ItemPtr note = p.alice.NewItem("note");
        QVERIFY(p.bob.NewItem("note") != note && p.note->NewItem() != note);
        QCOMPARE(p.alice.NewItem("note"), note);
        QCOMPARE(p.note->ItemCount(), size_t(3));
        std::set<Type*> owners; // only the owned type lists its owner
        p.store.GetTypeOwningTypes(p.note, owners);
        p.store.GetTypeOwningTypes(p.user, owners);
        QCOMPARE(owners, std::set<Type*>{p.user});
    }

    void oneEndsReplacePartnersManyEndsKeepThem()
    {
        People p;
        p.alice += p.away;
        p.busy += p.alice; // from the status end, which holds many users
        QVERIFY(p.alice["status"] == p.busy && p.away.IsDisconnectedFromAll());
        ItemPtr note = p.alice.NewItem("note");
        note += p.bob; // One at both ends: the note leaves alice
        QVERIFY(!p.alice.IsConnected("note") && p.bob["note"] == note);
        p.lobby += p.alice;
        p.lobby += p.bob;
        QCOMPARE(p.lobby.GetItems("user").Size(), size_t(2));
        p.lobby.Disconnect("user");
        QVERIFY(p.lobby.IsDisconnectedFromAll() && !p.alice.IsConnected("room"));
    }

    // Either end may be asked, and either may be the hub: a user with no status at all, one with
    // another status and one just moved away must read the same from both sides.
    void connectionReadsAlikeFromBothEnds()
    {
        People p;
        std::vector<ItemPtr> users;
        for (int index = 0; index < 20; ++index)
            users.push_back(p.user->NewItem(QString("user%1").arg(index)));
        for (int index = 0; index < 20; index += 2)
            p.busy += users[index];
        users[1] += p.away;
        users[4] += p.away; // leaves busy
        for (int index = 0; index < 20; ++index)
        {
            const bool busy = index % 2 == 0 && index != 4;
            const bool away = index == 1 || index == 4;
            const QByteArray name = users[index].AsString().toUtf8();
            QVERIFY2(users[index].IsConnected(p.busy) == busy, name);
            QVERIFY2(p.busy.IsConnected(users[index]) == busy, name);
            QVERIFY2(users[index].IsConnected(p.away) == away, name);
            QVERIFY2(p.away.IsConnected(users[index]) == away, name);
        }
        QVERIFY(!p.alice.IsConnected(p.busy) && !p.busy.IsConnected(p.alice));
        QCOMPARE(p.busy.GetItems("user").Size(), size_t(9));
    }

    // The value index moves later members of a probe run into a freed slot: every value must
    // still be found, and no removed one, however removals and additions interleave.
    void valueLookupsSurviveRemovalsAndRenewal()
    {
        Data store;
        Type* word = store.NewType("word", PrimacyRoot, false, false);
        constexpr int count = 5000;
        for (int index = 0; index < count; ++index)
            word->NewItem(Value(index));
        for (int index = 0; index < count; index += 3)
            word->HasItem(Value(index))->Remove();
        for (int index = 0; index < count; index += 6)
            word->NewItem(Value(index));
        store.Renew();
        int wrong = 0;
        for (int index = 0; index < count; ++index)
        {
            const bool expected = index % 3 != 0 || index % 6 == 0;
            Item* found = word->HasItem(Value(index));
            wrong += (found != nullptr) != expected || (found && found->value != Value(index));
        }
        QCOMPARE(wrong, 0);
        QCOMPARE(word->ItemCount(), size_t(count - count / 3 + count / 6));
    }

    // The first three partner types live inside the item; a fourth moves them out, and a copy of
    // either form keeps every partner.
    void partnersOfManyTypesComeAndGo()
    {
        Data store;
        Type* hub = store.NewType("hub", PrimacyRoot, false, false);
        std::vector<ItemPtr> partners;
        for (const char* name : {"a", "b", "c", "e"})
        {
            Type* type = store.NewType(name, PrimacyRoot, false, false);
            hub->RelateToType(type, Many, Many, false);
            partners.push_back(type->NewItem(name));
        }
        ItemPtr centre = hub->NewItem("centre");
        for (ItemPtr partner : partners)
            centre += partner;
        QCOMPARE(centre->connections.Size(), size_t(4));
        const TypeItemsMap four = centre->connections;
        for (ItemPtr partner : partners)
            QVERIFY(four.ItemsOf(partner->type) && four.ItemsOf(partner->type)->Contains(partner));
        partners[1].Remove();
        centre.Disconnect(partners[0]);
        QCOMPARE(centre->connections.Size(), size_t(2));
        QVERIFY(centre.IsConnected(partners[2]) && centre.IsConnected(partners[3]));
        centre += partners[0];
        const TypeItemsMap copy = centre->connections;
        QCOMPARE(copy.Size(), size_t(3));
        QVERIFY(copy.ItemsOf(partners[0]->type) && !copy.ItemsOf(store.GetType("b")));
        QVERIFY(copy.ItemsOf(partners[3]->type)->Contains(partners[3]));
        centre.Remove();
        QVERIFY(partners[0].IsDisconnectedFromAll() && partners[3].IsDisconnectedFromAll());
    }

    void globalLookupsNeverCreate()
    {
        Type* city = d.NewType("items_test_city", PrimacyRoot, false, true);
        ItemPtr rome = city->NewItem("rome");
        QCOMPARE(ItemPtr(g("items_test_city")), rome);
        QCOMPARE(ItemPtr(i("items_test_city", "rome")), rome);
        QVERIFY(i("items_test_city", "oslo").Empty() && city->ItemCount() == 1);
        QVERIFY_EXCEPTION_THROWN(g("items_test_town"), TypeNotFoundException);
        rome.Remove();
        QVERIFY(g("items_test_city").Empty() && i("items_test_city", "rome").Empty());
    }
};

QTEST_GUILESS_MAIN(StoreItemsTest)
#include "tst_items.moc"
