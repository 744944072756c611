#include <functional>

#include <QtTest>

#include "Data.h"

namespace {
// Records the removals of the types it watches, then runs `also` on each.
struct Removals : DataHandler
{
    explicit Removals(std::initializer_list<Type*> types)
    {
        for (Type* type : types)
            Listen(type->itemRemoved, this, &Removals::OnRemoved);
    }
    void OnRemoved(ItemPtr item) { names << item.AsString(), also(item); }

    QStringList names;
    std::function<void(ItemPtr)> also = [](ItemPtr) {};
};

// Root, intermediate and leaf types, all related; and an owner type, owned by the root type.
struct Garden
{
    Data store;
    Type* root = store.NewType("root", PrimacyRoot, false, false);
    Type* stem = store.NewType("stem", PrimacyIntermediate, false, false);
    Type* leaf = store.NewType("leaf", PrimacyLeaf, false, false);
    Type* owner = store.NewType("owner", PrimacyIntermediate, false, false);
    Type* owned = store.NewType("owned", PrimacyRoot, false, false);
    Removals removed{root, stem, leaf, owner, owned}; // after the store, so it goes first

    Garden()
    {
        for (auto [from, to] :
             {std::pair{stem, root}, {stem, stem}, {leaf, root}, {leaf, stem}, {leaf, leaf}})
            from->RelateToType(to, Many, Many, false);
        owner->RelateToType(owned, One, Many, true);
        root->RelateToType(owner, One, Many, true);
    }
    QStringList Sweep()
    {
        removed.names.clear();
        store.RemoveDisconnectedItems();
        removed.names.sort();
        return removed.names;
    }
};
} // namespace

class StoreCleanupTest : public QObject
{
    Q_OBJECT

    QScopedPointer<Garden> g;

private slots:
    void init() { g.reset(new Garden); }

    void keepsWhatARootReachesThroughIntermediatesAndOwners()
    {
        ItemPtr top = g->root->NewItem("top"), first = top += g->stem->NewItem("first");
        (first += g->stem->NewItem("second")) += g->leaf->NewItem("end");
        (top += g->leaf->NewItem("kept")) += g->leaf->NewItem("beyond");
        ItemPtr(g->leaf->NewItem("alone")) += g->leaf->NewItem("pair");
        (top += g->owner->NewItem("held")) += g->owned->NewItem("child");
        ItemPtr(g->owner->NewItem("lost")) += g->owned->NewItem("heir");
        g->owned->NewItem("stray");
        QCOMPARE(g->Sweep(), QStringList({"alone", "beyond", "lost", "pair", "stray"}));
        // The owner of "heir" was an orphan itself, so "heir" goes only on the next sweep.
        QCOMPARE(g->Sweep(), QStringList({"heir"}));
        QCOMPARE(g->Sweep(), QStringList());
        top -= first;
        QCOMPARE(g->Sweep(), QStringList({"end", "first", "second"}));
        QVERIFY(g->root->HasItem("top") && g->owned->HasItem("child"));
    }

    void handlerRemovingAPendingItemIsNotRemovedTwice()
    {
        ItemPtr(g->leaf->NewItem("a")) += g->leaf->NewItem("b");
        g->leaf->NewItem("c");
        g->removed.also = [this](ItemPtr item) {
            for (const char* other : {"a", "b", "c"})
                if (Item* next = g->leaf->HasItem(other); next && next != item.Get())
                    ItemPtr(next).Remove();
        };
        QCOMPARE(g->Sweep(), QStringList({"a", "b", "c"}));
    }

    void longChainsNeitherOverflowNorSurviveUnreached()
    {
        ItemPtr previous = g->root->NewItem("top");
        for (int link = 0; link < 200000; ++link)
            previous = previous += g->stem->NewItem(Value(link));
        QCOMPARE(g->Sweep(), QStringList());
        ItemPtr(g->stem->HasItem("0")).Remove();
        QCOMPARE(g->Sweep().size(), 199999);
    }

    void renewalKeepsValuesConnectionsAndHandles()
    {
        ItemPtr top = g->root->NewItem("top"), stem = top += g->stem->NewItem("stem");
        stem += g->leaf->NewItem("leaf");
        g->removed.names.clear();
        g->store.Renew();
        QVERIFY(g->removed.names.isEmpty() && ItemPtr(g->root->HasItem("top")) == top);
        QVERIFY(top.IsConnected(stem) && stem.IsConnected(top));
        QCOMPARE(ItemPtr(g->leaf->HasItem("leaf"))["stem"], stem);
        QCOMPARE(stem["leaf"].AsString(), QString("leaf"));
    }
};

QTEST_GUILESS_MAIN(StoreCleanupTest)
#include "tst_cleanup.moc"
