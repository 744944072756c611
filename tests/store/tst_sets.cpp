#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <vector>

#include <QtTest>

#include "Data.h"

namespace {
const std::less<Item*> before;
using Model = std::set<Item*>;

// Empty when the set holds exactly the model's items, in identity order.
QString Mismatch(const ItemSet& set, const Model& model)
{
    const std::vector<Item*> expected(model.begin(), model.end());
    std::vector<Item*> walked, ranged;
    for (ItemSet::Iterator it = set.Begin(); it != set.End() && walked.size() <= model.size(); it++)
        walked.push_back(*it);
    for (ItemPtr item : set)
        if (ranged.size() <= model.size())
            ranged.push_back(item);
    if (walked != expected || ranged != expected)
        return QString("walk differs from the model of %1 items").arg(model.size());
    if (set.Size() != model.size() || set.Empty() != model.empty() ||
        (set.Begin() == set.End()) != model.empty())
        return QString("Size %1 or emptiness wrong, expected %2").arg(set.Size()).arg(model.size());
    if (static_cast<ItemPtr>(set).Get() != (model.empty() ? nullptr : *model.begin()))
        return "operator ItemPtr is not the first member";
    return QString();
}

#define COMPARE_SET(set, model)                                                                    \
    QVERIFY2(Mismatch(set, model).isEmpty(), qPrintable(Mismatch(set, model)))

template <class Items> QStringList Values(const Items& items, bool sorted = true)
{
    QStringList values;
    for (ItemPtr item : items)
        values << item.AsString();
    if (sorted)
        values.sort();
    return values;
}

QStringList Reversed(QStringList values)
{
    std::reverse(values.begin(), values.end());
    return values;
}

// Counts events per item; a trigger's handler removes its victims from inside the event.
struct Recorder
{
    void OnRemoved(ItemPtr item) { Count(removals, item); }
    void OnDisconnected(ConnectionInfo info) { Count(disconnections, info.from); }
    void Count(std::map<Item*, int>& counts, ItemPtr item)
    {
        ++counts[item.Get()];
        const std::vector<Item*> doomed = victims[item.Get()];
        victims.erase(item.Get());
        for (Item* victim : doomed)
            ItemPtr(victim).Remove();
    }

    std::map<Item*, int> removals, disconnections;
    std::map<Item*, std::vector<Item*>> victims;
};
} // namespace

class tst_Sets : public QObject
{
    Q_OBJECT

private slots:
    void keepsIdentityOrderThroughEveryForm_data();
    void keepsIdentityOrderThroughEveryForm();
    void combinesSets_data();
    void combinesSets();
    void selectsItemsByConnection();
    void sortsByKeyWithTiesInIdentityOrder();
    void findsItemsSharedByEveryMember();
    void walkSkipsMembersRemovedByHandlers_data();
    void walkSkipsMembersRemovedByHandlers();
    void keepsConnectionMapOrderedByType();
    void resolvesUnknownTypeNameOnlyWhenNeeded();
};

void tst_Sets::keepsIdentityOrderThroughEveryForm_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("insertOrder"); // -1 descending, 0 random, 1 ascending address
    QTest::addColumn<int>("eraseOrder");
    QTest::newRow("empty") << 0 << 0 << 0;
    QTest::newRow("one") << 1 << 0 << 0;
    QTest::newRow("two") << 2 << -1 << 1;
    QTest::newRow("one full block") << 256 << 1 << -1;
    QTest::newRow("one past a block") << 257 << -1 << 1;
    QTest::newRow("thousands, random") << 5000 << 0 << 0;
    QTest::newRow("thousands, address order") << 5000 << 1 << 0;
    QTest::newRow("thousands, reverse order") << 5000 << -1 << 1;
}

void tst_Sets::keepsIdentityOrderThroughEveryForm()
{
    QFETCH(int, count);
    QFETCH(int, insertOrder);
    QFETCH(int, eraseOrder);
    Data store;
    Type* node = store.NewType("node", PrimacyRoot, true, false);
    std::vector<Item*> items;
    for (int n = 0; n < count; ++n)
        items.push_back(node->NewItem());
    Item* outsider = node->NewItem();
    std::mt19937 random(count);
    auto arranged = [&](int order) {
        std::vector<Item*> arranged = items;
        std::sort(arranged.begin(), arranged.end(), before);
        if (order < 0)
            std::reverse(arranged.begin(), arranged.end());
        else if (order == 0)
            std::shuffle(arranged.begin(), arranged.end(), random);
        return arranged;
    };
    // Checking after every change would be quadratic; these sizes meet every form and split.
    auto checkpoint = [](size_t size) { return size <= 3 || size % 97 == 0; };

    ItemSet set;
    Model model;
    for (Item* item : arranged(insertOrder))
    {
        set.Insert(item);
        set.Insert(item);
        model.insert(item);
        if (checkpoint(model.size()))
            COMPARE_SET(set, model);
    }
    COMPARE_SET(set, model);
    QVERIFY(set.Find(outsider) == set.End());
    for (auto member = model.begin(); member != model.end(); ++member)
    {
        ItemSet::Iterator found = set.Find(*member);
        QCOMPARE((*found++).Get(), *member);
        QCOMPARE((*found).Get(), std::next(member) == model.end() ? nullptr : *std::next(member));
        QVERIFY(found != set.Find(*member));
    }
    QVERIFY(model.empty() || set.Find(*model.begin()) == set.Begin());

    const Model full = model;
    const ItemSet copy = set;
    ItemSet assigned;
    assigned = set;
    QVERIFY(copy.End() != set.End() && copy.End() != assigned.End());
    set.Erase(outsider);
    for (Item* item : arranged(eraseOrder))
    {
        set.Erase(item);
        set.Erase(item);
        model.erase(item);
        if (checkpoint(model.size()))
            COMPARE_SET(set, model);
    }
    COMPARE_SET(copy, full);
    COMPARE_SET(assigned, full);
}

void tst_Sets::combinesSets_data()
{
    // Index ranges into items in address order; the right set skips every third item.
    QTest::addColumn<int>("leftFrom");
    QTest::addColumn<int>("leftTo");
    QTest::addColumn<int>("rightFrom");
    QTest::addColumn<int>("rightTo");
    QTest::newRow("right holds the larger items") << 0 << 400 << 200 << 600;
    QTest::newRow("left holds the larger items") << 200 << 600 << 0 << 400;
    QTest::newRow("one inside the other") << 0 << 600 << 250 << 262;
    QTest::newRow("disjoint") << 0 << 300 << 300 << 600;
    QTest::newRow("left empty") << 0 << 0 << 0 << 600;
    QTest::newRow("right empty") << 0 << 600 << 5 << 5;
    QTest::newRow("one member each") << 7 << 8 << 7 << 8;
    QTest::newRow("one member and many") << 598 << 599 << 0 << 600;
}

void tst_Sets::combinesSets()
{
    QFETCH(int, leftFrom);
    QFETCH(int, leftTo);
    QFETCH(int, rightFrom);
    QFETCH(int, rightTo);
    Data store;
    Type* node = store.NewType("node", PrimacyRoot, true, false);
    std::vector<Item*> items;
    for (int n = 0; n < 600; ++n)
        items.push_back(node->NewItem());
    std::sort(items.begin(), items.end(), before);
    ItemSet left, right;
    Model leftModel, rightModel, both, either;
    for (int n = 0; n < 600; ++n)
    {
        if (n >= leftFrom && n < leftTo)
            left.Insert(items[n]), leftModel.insert(items[n]);
        if (n >= rightFrom && n < rightTo && n % 3 != 1)
            right.Insert(items[n]), rightModel.insert(items[n]);
    }
    std::set_intersection(leftModel.begin(), leftModel.end(), rightModel.begin(), rightModel.end(),
                          std::inserter(both, both.end()), before);
    std::set_union(leftModel.begin(), leftModel.end(), rightModel.begin(), rightModel.end(),
                   std::inserter(either, either.end()), before);

    COMPARE_SET(left.Common(right), both);
    COMPARE_SET(right.Common(left), both);
    COMPARE_SET(left + right, either);
    COMPARE_SET(right + left, either);
    ItemSet added = left;
    added.Add(right);
    COMPARE_SET(added, either);
    COMPARE_SET(left, leftModel);
    COMPARE_SET(right, rightModel);
}

void tst_Sets::selectsItemsByConnection()
{
    // The by-name filters look types up in the global store.
    Type* user = d.NewType("sets_filter_user", PrimacyRoot, false, false);
    Type* group = d.NewType("sets_filter_group", PrimacyLeaf, false, true); // would auto-create
    Type* city = d.NewType("sets_filter_city", PrimacyLeaf, false, false);
    user->RelateToType(group, Many, Many, false);
    user->RelateToType(city, Many, One, false);
    ItemPtr u1 = user->NewItem("u1"), u2 = user->NewItem("u2"), u3 = user->NewItem("u3"),
            u4 = user->NewItem("u4");
    ItemPtr g1 = group->NewItem("g1"), g2 = group->NewItem("g2"), c1 = city->NewItem("c1");
    u1 += g1, u2 += g1, u2 += g2, u3 += group->NewItem("g3"), u4 += c1, u1 += c1;
    const ItemSet users = g("sets_filter_user"), groups = g("sets_filter_group");
    const ItemSet g1AndCity = ItemSet(g1) + ItemSet(c1), u1AndU3 = ItemSet(u1) + ItemSet(u3);
    const QStringList all({"u1", "u2", "u3", "u4"});

    // This set larger than the other, then smaller: the filter scans either side.
    QCOMPARE(Values(users.Connected(ItemSet(g1))), QStringList({"u1", "u2"}));
    QCOMPARE(Values(u1AndU3.Connected(groups)), QStringList({"u1", "u3"}));
    QCOMPARE(Values(users.Connected(g1AndCity)), QStringList({"u1", "u2", "u4"}));
    QCOMPARE(Values(users.NotConnected(g1AndCity)), QStringList({"u3"}));
    QCOMPARE(Values(users.Connected(g2)), QStringList({"u2"}));
    QCOMPARE(Values(users.NotConnected(g2)), QStringList({"u1", "u3", "u4"}));
    QVERIFY(users.Connected(ItemPtr()).Empty());
    QCOMPARE(Values(users.NotConnected(ItemPtr())), all);
    QCOMPARE(Values(users.Connected("sets_filter_group")), QStringList({"u1", "u2", "u3"}));
    QCOMPARE(Values(users.NotConnected("sets_filter_group")), QStringList({"u4"}));
    QCOMPARE(Values(users.Connected("sets_filter_group", "g2")), QStringList({"u2"}));
    QCOMPARE(Values(users.NotConnected("sets_filter_group", "g1")), QStringList({"u3", "u4"}));
    QVERIFY(users.Connected("sets_filter_group", "missing").Empty());
    QCOMPARE(Values(users.NotConnected("sets_filter_group", "missing")), all);
    QVERIFY(group->HasItem("missing") == nullptr);
    QVERIFY(ItemSet().Connected(groups).Empty() && ItemSet().NotConnected(ItemPtr()).Empty());
    QCOMPARE(Values(u1AndU3.GetItems("sets_filter_group")), QStringList({"g1", "g3"}));
    QCOMPARE(Values(d.GetItems(users, "sets_filter_group")), QStringList({"g1", "g2", "g3"}));
    QCOMPARE(Values(users), all);

    // A lookup that finds nothing leaves the caller's set alone; a null handle clears it.
    ItemSet into(g1);
    u4->GetItems("sets_filter_group", into);
    u4.GetItems("sets_filter_group", into);
    QCOMPARE(Values(into), QStringList({"g1"}));
    u2.GetItems("sets_filter_group", into);
    QCOMPARE(Values(into), QStringList({"g1", "g2"}));
    into.Erase(g1);
    QCOMPARE(int(u2.GetItems("sets_filter_group").Size()), 2);
    ItemPtr().GetItems("sets_filter_group", into);
    QVERIFY(into.Empty() && ItemPtr().GetItems("sets_filter_group").Empty());
}

void tst_Sets::sortsByKeyWithTiesInIdentityOrder()
{
    Data store;
    Type* entry = store.NewType("entry", PrimacyRoot, false, false);
    Type* label = store.NewType("label", PrimacyLeaf, false, false);
    entry->RelateToType(label, Many, One, false);
    ItemSet entries;
    for (const char* value : {"10", "9", "word", "", "-3", "12345678901"})
        entries.Insert(entry->NewItem(value));
    const bool wordFirst = before(entry->HasItem("word"), entry->HasItem(""));
    const QStringList numeric =
        QStringList({"-3"}) + (wordFirst ? QStringList({"word", ""}) : QStringList({"", "word"})) +
        QStringList({"9", "10", "12345678901"});
    QCOMPARE(Values(entries.SortNumeric(true), false), numeric);
    QCOMPARE(Values(entries.SortNumeric(false), false), Reversed(numeric));

    // Labels "a", "B", "b" on three entries; the other entries have none.
    ItemSet labels;
    for (const char* value : {"a", "B", "b"})
        labels.Insert(ItemPtr(entry->NewItem(QString("entry %1").arg(value))) +=
                      label->NewItem(value));
    entries.Add(labels.GetItems("entry"));
    const QStringList byCodeUnit({"B", "a", "b"});
    QCOMPARE(Values(labels.SortAlphabetic(true), false), byCodeUnit);
    QCOMPARE(Values(labels.SortAlphabetic(false), false), Reversed(byCodeUnit));
    QCOMPARE(Values(entries.SortAlphabeticBy("label", true, true), false),
             QStringList({"entry B", "entry a", "entry b"}));
    const QStringList folded = before(entry->HasItem("entry B"), entry->HasItem("entry b"))
                                   ? QStringList({"entry a", "entry B", "entry b"})
                                   : QStringList({"entry a", "entry b", "entry B"});
    QCOMPARE(Values(entries.SortAlphabeticBy("label", true, false), false), folded);
    QCOMPARE(Values(entries.SortAlphabeticBy("label", false, false), false), Reversed(folded));
    ItemPtr(entry->HasItem("10")) += label->NewItem("10");
    ItemPtr(entry->HasItem("9")) += label->NewItem("9");
    std::vector<Item*> zeroRank = {entry->HasItem("entry a"), entry->HasItem("entry B"),
                                   entry->HasItem("entry b")};
    std::sort(zeroRank.begin(), zeroRank.end(), before);
    const QStringList byRank = Values(zeroRank, false) + QStringList({"9", "10"});
    QCOMPARE(Values(entries.SortNumericBy("label", true), false), byRank);
    QCOMPARE(Values(entries.SortNumericBy("label", false), false), Reversed(byRank));
    QVERIFY(ItemSet().SortNumeric(true).empty() && ItemSet().SortAlphabetic(true).empty());
}

void tst_Sets::findsItemsSharedByEveryMember()
{
    Data store;
    Type* file = store.NewType("file", PrimacyRoot, false, false);
    Type* word = store.NewType("word", PrimacyLeaf, false, false);
    file->RelateToType(word, Many, Many, false);
    std::map<QString, ItemPtr> files;
    for (const char* line : {"a:w1 w2 w3", "b:w2 w3 w4", "c:w6 w5 w3 w2", "e:w4 w1", "lone:"})
    {
        const QStringList parts = QString(line).split(':');
        files[parts[0]] = file->NewItem(parts[0]);
        for (const QString& value : parts[1].split(' ', Qt::SkipEmptyParts))
            files[parts[0]] += word->NewItem(value);
    }
    ItemPtr a = files["a"], b = files["b"];
    const ItemSet abc = ItemSet(a) + ItemSet(b) + ItemSet(files["c"]);
    const ItemSet abLone = ItemSet(a) + ItemSet(b) + ItemSet(files["lone"]);

    ItemSet ofA = store.GetItemSubset(ItemSet(a), "word");
    QCOMPARE(Values(ofA), QStringList({"w1", "w2", "w3"}));
    ofA.Clear();
    QCOMPARE(int(a.GetItems("word").Size()), 3);
    QCOMPARE(Values(store.GetItemSubset(abc, "word")), QStringList({"w2", "w3"}));
    QVERIFY(store.GetItemSubset(abLone, "word").Empty());
    // The candidates shrink to one item, which a later member still lacks.
    QVERIFY(store.GetItemSubset(ItemSet(a) + ItemSet(b) + ItemSet(files["e"]), "word").Empty());
    QVERIFY(store.GetItemSubset(ItemSet(), "word").Empty());
    QCOMPARE(Values(store.GetItems(a, b, "word")), QStringList({"w2", "w3"}));
    QCOMPARE(store.GetItem(a, a, "word"), static_cast<ItemPtr>(a.GetItems("word")));
    QCOMPARE(store.GetItem(abc, "word").Get(),
             std::min(word->HasItem("w2"), word->HasItem("w3"), before));
    QVERIFY(store.GetItem(abLone, "word").IsNull());
}

void tst_Sets::walkSkipsMembersRemovedByHandlers_data()
{
    QTest::addColumn<bool>("disconnect");
    QTest::newRow("Remove") << false;
    QTest::newRow("Disconnect by type") << true;
}

void tst_Sets::walkSkipsMembersRemovedByHandlers()
{
    QFETCH(bool, disconnect);
    Recorder recorder;
    Data store;
    Type* node = store.NewType("node", PrimacyRoot, true, false);
    Type* mark = store.NewType("mark", PrimacyLeaf, true, false);
    Type* note = store.NewType("note", PrimacyLeaf, false, false);
    node->RelateToType(mark, Many, One, false);
    node->RelateToType(note, One, One, false);
    node->itemRemoved.Add(new EventHandler<Recorder, ItemPtr>(&recorder, &Recorder::OnRemoved));
    // Only the mark's events: removing a member also drops its note.
    mark->disconnected.Add(
        new EventHandler<Recorder, ConnectionInfo>(&recorder, &Recorder::OnDisconnected));
    ItemSet members;
    for (int n = 0; n < 300; ++n)
    {
        ItemPtr member = node->NewItem();
        member.NewItem("mark");
        member += note->NewItem(n);
        members.Insert(member);
    }
    ItemPtr outsider = node->NewItem();
    outsider.NewItem("mark");
    std::vector<Item*> ordered;
    for (ItemPtr member : members)
        ordered.push_back(member);
    ItemPtr shared = mark->GetGlobalNullItem();
    // The first member's handler removes the very next member of the walk and the last one;
    // when removing, a middle member's handler does the same to its successor.
    recorder.victims[disconnect ? shared.Get() : ordered[0]] = {ordered[1], ordered.back()};
    if (!disconnect)
        recorder.victims[ordered[150]] = {ordered[151]};

    if (disconnect)
        members.Disconnect("mark");
    else
        members.Remove();
    const int removed = disconnect ? 2 : 300;
    QCOMPARE(int(recorder.removals.size()), removed);
    for (const auto& count : recorder.removals)
        QCOMPARE(count.second, 1);
    QCOMPARE(int(node->ItemCount()), 301 - removed);
    QCOMPARE(recorder.disconnections[shared.Get()], 300);
    QCOMPARE(Values(shared.GetItems("node")), Values(ItemSet(outsider)));
    for (size_t n = 2; disconnect && n + 1 < ordered.size(); ++n)
        QVERIFY(ItemPtr(ordered[n]).IsConnected("note"));
}

void tst_Sets::keepsConnectionMapOrderedByType()
{
    Data store;
    std::vector<Type*> types;
    for (int n = 0; n < 40; ++n)
        types.push_back(store.NewType("type " + std::to_string(n), PrimacyRoot, true, false));
    std::mt19937 random(40);
    std::map<Type*, Item*> model;
    auto mismatches = [&model](const TypeItemsMap& map) {
        auto expected = model.begin();
        for (auto it = map.Begin(); it != map.End(); it++, ++expected)
            if (expected == model.end() || it.GetType() != expected->first ||
                it.Set()->Size() != 1 || static_cast<ItemPtr>(*it.Set()) != expected->second)
                return true;
        return expected != model.end() || map.Size() != model.size() || map.End().Set();
    };

    TypeItemsMap map;
    std::shuffle(types.begin(), types.end(), random);
    for (Type* type : types)
    {
        map[type].Insert(model[type] = type->NewItem());
        QVERIFY(!mismatches(map) && map.Find(type).GetType() == type);
    }
    const TypeItemsMap copy = map;
    Item* extra = types[1]->NewItem();
    map[types[0]].Insert(extra);
    QCOMPARE(int(map.Find(types[0]).Set()->Size()), 2);
    QVERIFY(!mismatches(copy));
    map[types[0]].Erase(extra);
    std::shuffle(types.begin(), types.end(), random);
    for (Type* type : types)
    {
        map.Erase(type);
        model.erase(type);
        QVERIFY(!mismatches(map) && map.Find(type) == map.End());
    }
    QVERIFY(map.Empty() && map.Begin() == map.End());
    QCOMPARE(int(copy.Size()), 40);
}

void tst_Sets::resolvesUnknownTypeNameOnlyWhenNeeded()
{
    // Per-member lookups have nothing to resolve on an empty set; whole-set filters
    // resolve the name first.
    QVERIFY(ItemSet().GetItems("sets_missing_type").Empty());
    QVERIFY_EXCEPTION_THROWN(ItemSet().Connected("sets_missing_type"), TypeNotFoundException);
}

QTEST_GUILESS_MAIN(tst_Sets)
#include "tst_sets.moc"
