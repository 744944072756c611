#include <QtTest>

#include "Data.h"

namespace {
// Counts the removals of the types it watches.
struct Removals : DataHandler
{
    explicit Removals(std::initializer_list<Type*> types)
    {
        for (Type* type : types)
            Listen(type->itemRemoved, this, &Removals::OnRemoved);
    }
    void OnRemoved(ItemPtr item) { names << item.AsString(); }

    QStringList names;
};

// A store with a root type, an intermediate type and a leaf type, all related
// to each other.
struct Garden
{
    Data store;
    Type* root = store.NewType("root", PrimacyRoot, false, false);
    Type* stem = store.NewType("stem", PrimacyIntermediate, false, false);
    Type* leaf = store.NewType("leaf", PrimacyLeaf, false, false);
    // After the store, so that the handlers' owner goes first.
    Removals removed{root, stem, leaf};

    Garden()
    {
        stem->RelateToType(root, Many, Many, false);
        stem->RelateToType(stem, Many, Many, false);
        leaf->RelateToType(root, Many, Many, false);
        leaf->RelateToType(stem, Many, Many, false);
        leaf->RelateToType(leaf, Many, Many, false);
    }

    ItemPtr Root(const char* name) { return root->NewItem(name); }
    ItemPtr Stem(const char* name) { return stem->NewItem(name); }
    ItemPtr Leaf(const char* name) { return leaf->NewItem(name); }
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

private slots:
    void keepsWhatARootReachesThroughIntermediates()
    {
        Garden garden;
        ItemPtr top = garden.Root("top");
        ItemPtr first = garden.Stem("first");
        ItemPtr second = garden.Stem("second");
        top += first;
        first += second;
        second += garden.Leaf("end");
        garden.Leaf("kept") += garden.Leaf("beyond");
        top += garden.Leaf("kept");
        garden.Leaf("alone") += garden.Leaf("pair");
        QCOMPARE(garden.Sweep(), QStringList({"alone", "beyond", "pair"}));
        QCOMPARE(garden.Sweep(), QStringList());

        top -= first;
        QCOMPARE(garden.Sweep(), QStringList({"end", "first", "second"}));
        QVERIFY(garden.root->HasItem("top"));
    }

    void ownedItemsNeedTheirOwner()
    {
        Garden garden;
        Type* owner = garden.store.NewType("owner", PrimacyIntermediate, false, false);
        Type* owned = garden.store.NewType("owned", PrimacyRoot, false, false);
        owner->RelateToType(owned, One, Many, true);
        garden.root->RelateToType(owner, One, Many, true);
        ItemPtr top = garden.Root("top");
        // Its owner is an orphan itself: removed now, the owned item only next time.
        ItemPtr lost = owner->NewItem("lost");
        lost += owned->NewItem("heir");
        owned->NewItem("stray");
        top += owner->NewItem("kept");
        ItemPtr(owner->HasItem("kept")) += owned->NewItem("child");

        garden.store.RemoveDisconnectedItems();
        QVERIFY(!owner->HasItem("lost") && owned->HasItem("heir") && !owned->HasItem("stray"));
        QVERIFY(owner->HasItem("kept") && owned->HasItem("child"));
        garden.store.RemoveDisconnectedItems();
        QVERIFY(!owned->HasItem("heir") && owned->HasItem("child"));
    }

    void handlerRemovingAPendingItemIsNotRemovedTwice()
    {
        Garden garden;
        garden.Leaf("a") += garden.Leaf("b");
        garden.Leaf("c");
        struct Chain : DataHandler
        {
            explicit Chain(Type* leaf) : leaf(leaf)
            {
                Listen(leaf->itemRemoved, this, &Chain::OnRemoved);
            }
            Type* leaf;
            int calls = 0;
            void OnRemoved(ItemPtr item)
            {
                ++calls;
                for (const char* other : {"a", "b", "c"})
                    if (Item* next = leaf->HasItem(other); next && next != item.Get())
                        ItemPtr(next).Remove();
            }
        } chain(garden.leaf);
        garden.store.RemoveDisconnectedItems();
        QCOMPARE(chain.calls, 3);
        QCOMPARE(garden.leaf->ItemCount(), size_t(0));
    }

    void longChainsNeitherOverflowNorSurviveUnreached()
    {
        Garden garden;
        ItemPtr previous = garden.Root("top");
        for (int link = 0; link < 200000; ++link)
            previous = previous += garden.stem->NewItem(Value(link));
        garden.store.RemoveDisconnectedItems();
        QCOMPARE(garden.stem->ItemCount(), size_t(200000));
        ItemPtr(garden.stem->HasItem("0")).Remove();
        garden.store.RemoveDisconnectedItems();
        QCOMPARE(garden.stem->ItemCount(), size_t(0));
    }

    void renewalKeepsValuesConnectionsAndHandles()
    {
        Garden garden;
        ItemPtr top = garden.Root("top");
        ItemPtr stem = top += garden.Stem("stem");
        stem += garden.Leaf("leaf");
        garden.removed.names.clear();
        garden.store.Renew();
        QVERIFY(garden.removed.names.isEmpty());
        QCOMPARE(ItemPtr(garden.root->HasItem("top")), top);
        QVERIFY(top.IsConnected(stem) && stem.IsConnected(top));
        QCOMPARE(stem["leaf"].AsString(), QString("leaf"));
        QCOMPARE(ItemPtr(garden.leaf->HasItem("leaf"))["stem"], stem);
    }
};

QTEST_GUILESS_MAIN(StoreCleanupTest)
#include "tst_cleanup.moc"
