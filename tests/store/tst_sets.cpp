#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include <QtTest>

#include "Data.h"

namespace {
using Model = std::set<Item*>;

// Whether the set walks, counts and finds exactly the model's items, in identity order.
bool Matches(const ItemSet& set, const Model& model)
{
    std::vector<Item*> walked;
    for (ItemSet::Iterator it = set.Begin(); it != set.End() && walked.size() <= model.size(); it++)
        walked.push_back(*it);
    Item* first = model.empty() ? nullptr : *model.begin();
    return walked == std::vector<Item*>(model.begin(), model.end()) && set.Size() == model.size() &&
           set.Empty() == model.empty() && ItemPtr(set) == first && set.Find(first) == set.Begin();
}

template <class Items> QStringList Values(const Items& items, bool reversed = false)
{
    QStringList values;
    for (ItemPtr item : items)
        values.insert(reversed ? 0 : values.size(), item.AsString());
    return values;
}

// Records each disconnection from the mark; the first one removes the victims.
struct Spy
{
    void Record(ConnectionInfo info)
    {
        disconnected.push_back(info.to);
        for (Item* victim : std::exchange(victims, {}))
            ItemPtr(victim).Remove();
    }

    std::vector<Item*> disconnected, victims;
};
} // namespace

class tst_Sets : public QObject
{
    Q_OBJECT

private slots:
    void keepsIdentityOrderThroughEveryFormAndCombination()
    {
        Data store;
        Type* node = store.NewType("node", PrimacyRoot, true, false);
        std::vector<Item*> items(3000);
        std::generate(items.begin(), items.end(), [node] { return node->NewItem(); });
        const Model full(items.begin(), items.end());
        ItemSet set, copy, assigned;
        Model model;
        // Fills past many blocks, then empties, in random order and each change twice.
        for (bool insert : {true, false})
        {
            std::shuffle(items.begin(), items.end(), std::mt19937(insert));
            for (Item* item : items)
            {
                QCOMPARE(set.Find(item) == set.End(), insert);
                if (insert)
                    set.Insert(item), set.Insert(item), model.insert(item);
                else
                    set.Erase(item), set.Erase(item), model.erase(item);
                if (model.size() <= 3 || model.size() % 97 == 0 || model == full)
                    QVERIFY2(Matches(set, model), qPrintable(QString::number(model.size())));
            }
            if (insert)
                copy = ItemSet(set), assigned = set;
        }
        set.Insert(items[0]), set.Insert(items[0]), set.Erase(items[0]);
        QVERIFY(Matches(set, {}) && Matches(copy, full) && Matches(assigned, full));
        QVERIFY(copy.End() != assigned.End());

        // Every pair, either way round, of: none, one, the lower two thirds, alternate upper items.
        const std::vector<Item*> sorted(full.begin(), full.end());
        std::vector<Model> models{{}, {sorted[2998]}, {sorted.begin(), sorted.begin() + 2000}, {}};
        for (size_t n = 1000; n < sorted.size(); n += 2)
            models[3].insert(sorted[n]);
        for (const Model& leftModel : models)
            for (const Model& rightModel : models)
            {
                ItemSet left, right;
                Model both, either = leftModel;
                for (Item* item : leftModel)
                    left.Insert(item);
                for (Item* item : rightModel)
                    right.Insert(item), (leftModel.count(item) ? both : either).insert(item);
                QVERIFY(Matches(left.Common(right), both) && Matches(left + right, either));
                left.Add(right);
                QVERIFY(Matches(left, either) && Matches(right, rightModel));
            }
    }

    void selectsAndIntersectsByConnection()
    {
        // The by-name forms look types up in the global store, hence names unique to this test.
        Type* user = d.NewType("sets_filter_user", PrimacyRoot, false, false);
        Type* group = d.NewType("sets_filter_group", PrimacyLeaf, false, true); // would auto-create
        user->RelateToType(group, Many, Many, false);
        ItemPtr u1 = user->NewItem("u1"), u2 = user->NewItem("u2"), u3 = user->NewItem("u3"),
                u4 = user->NewItem("u4");
        ItemPtr g1 = group->NewItem("g1"), g2 = group->NewItem("g2"), g3 = group->NewItem("g3");
        for (ItemPtr member : {u1, u2, u3})
            member += g2, member += g3;
        u1 += g1, u3 += g1;
        const ItemSet users = g("sets_filter_user");
        const Model all{u1, u2, u3, u4};
        const char* groups = "sets_filter_group";

        // This set larger than the other, then smaller: the filter scans either side.
        QVERIFY(Matches(users.Connected(g(groups)), {u1, u2, u3}));
        QVERIFY(Matches((ItemSet(u2) + u4).NotConnected(g(groups)), {u4}));
        QVERIFY(Matches(users.Connected(g1), {u1, u3}) &&
                Matches(users.NotConnected(g1), {u2, u4}));
        QVERIFY(users.Connected(ItemPtr()).Empty() && Matches(users.NotConnected(ItemPtr()), all));
        QVERIFY(Matches(users.Connected(groups), {u1, u2, u3}));
        QVERIFY(Matches(users.NotConnected(groups), {u4}));
        QVERIFY(Matches(users.Connected(groups, "g1"), {u1, u3}));
        QVERIFY(users.Connected(groups, "missing").Empty() && !group->HasItem("missing"));
        QVERIFY(Matches(users.NotConnected(groups, "missing"), all));

        QVERIFY(Matches(d.GetItemSubset(u2, groups), {g2, g3}));
        QVERIFY(Matches(d.GetItemSubset(ItemSet(u1) + u2 + u3, groups), {g2, g3}));
        QVERIFY(d.GetItemSubset(ItemSet(u2) + u4, groups).Empty());
        QCOMPARE(d.GetItem(u1, u1, groups).Get(), *Model({g1, g2, g3}).begin());

        // Finding nothing leaves the caller's set alone; a null handle clears it.
        ItemSet into(g1);
        u4->GetItems(groups, into);
        QVERIFY(Matches(into, {g1}));
        ItemPtr().GetItems(groups, into);
        QVERIFY(into.Empty());
        // Per-member lookups have nothing to resolve on an empty set; whole-set filters do.
        QVERIFY(ItemSet().GetItems("sets_missing_type").Empty());
        QVERIFY_EXCEPTION_THROWN(ItemSet().Connected("sets_missing_type"), TypeNotFoundException);
    }

    void sortsByKeyWithTiesInIdentityOrder()
    {
        Data store;
        Type* entry = store.NewType("entry", PrimacyRoot, false, false);
        Type* label = store.NewType("label", PrimacyLeaf, false, false);
        entry->RelateToType(label, Many, One, false);
        // Labels order the other way from their entries' values; one more entry has none.
        ItemSet labels;
        for (auto pair : {std::pair{"10", "3"}, {"9", "20"}, {"word", "B"}, {"", "a"}})
            labels.Insert(ItemPtr(entry->NewItem(pair.first)) += label->NewItem(pair.second));
        const ItemSet entries = labels.GetItems("entry") + ItemPtr(entry->NewItem("-3"));
        const QStringList ties = Values(Model{entry->HasItem("word"), entry->HasItem("")});
        const QStringList numeric = QStringList{"-3"} + ties + QStringList{"9", "10"};

        QCOMPARE(Values(entries.SortNumeric(true)), numeric);
        QCOMPARE(Values(entries.SortNumeric(false), true), numeric);
        QCOMPARE(Values(labels.SortAlphabetic(true)), QStringList({"20", "3", "B", "a"}));
        QCOMPARE(Values(entries.SortAlphabeticBy("label", true, false)),
                 QStringList({"9", "10", "", "word"}));
        QCOMPARE(Values(entries.SortNumericBy("label", true)), ties + QStringList({"10", "9"}));
    }

    void walkSkipsMembersRemovedByHandlers()
    {
        for (bool disconnect : {false, true})
        {
            Spy spy;
            Data store;
            Type* node = store.NewType("node", PrimacyRoot, true, false);
            Type* mark = store.NewType("mark", PrimacyLeaf, true, false);
            node->RelateToType(mark, Many, One, false);
            mark->disconnected.Add(new EventHandler<Spy, ConnectionInfo>(&spy, &Spy::Record));
            ItemSet members;
            for (int n = 0; n < 300; ++n)
                members.Insert(node->NewItem());
            std::vector<Item*> ordered;
            for (ItemPtr member : members)
                ordered.push_back(member), member.NewItem("mark");
            // The walk's first event removes the very next member, one further on and the last.
            spy.victims = {ordered[1], ordered[271], ordered[299]};
            disconnect ? members.Disconnect("mark") : members.Remove();
            std::sort(spy.disconnected.begin(), spy.disconnected.end(), std::less<Item*>());
            QVERIFY(spy.disconnected == ordered);
            QCOMPARE(int(node->ItemCount()), disconnect ? 297 : 0);
        }
    }

    // From a status the walk reaches the users that hold only that status; from a user it
    // reaches the one status the user may hold, and stops there.
    void walksConnectionsWhoseFarEndIsSingle()
    {
        Data store;
        Type* user = store.NewType("user", PrimacyRoot, false, false);
        Type* status = store.NewType("status", PrimacyLeaf, false, false);
        Type* room = store.NewType("room", PrimacyRoot, false, false);
        user->RelateToType(status, Many, One, false);
        user->RelateToType(room, Many, Many, false);
        Item *alice = user->NewItem("alice"), *bob = user->NewItem("bob");
        Item *away = status->NewItem("away"), *lobby = room->NewItem("lobby");
        for (Item* member : {alice, bob})
            member->Connect(away), member->Connect(lobby);
        std::map<Item*, Path> found, single;
        away->GetUniqueToItems(found);
        QVERIFY((found == std::map<Item*, Path>{
                              {away, {status}}, {alice, {status, user}}, {bob, {status, user}}}));
        alice->GetUniqueItems(single);
        QVERIFY((single == std::map<Item*, Path>{{alice, {user}}, {away, {user, status}}}));
    }
};

QTEST_GUILESS_MAIN(tst_Sets)
#include "tst_sets.moc"
