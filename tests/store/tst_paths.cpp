#include <functional>
#include <memory>
#include <set>

#include <QtTest>

#include "Data.h"

namespace {
// A path to is_online (the condition) then is_tracked; alice holds is_online when `online`, and
// is_tracked is connected when `connect`, else disconnected.
struct Case
{
    PathNodeRelation condition, step;
    bool online, connect;
    int calls;
};

struct Store : Data
{
    Store()
    {
        Type* user = NewType("user", PrimacyRoot, false, true);
        Type* room = NewType("room", PrimacyRoot, false, true);
        Type* inList = NewType("in_user_list", PrimacyIntermediate, true, true);
        user->RelateToType(NewType("is_online", PrimacyLeaf, true, true), Many, One, false);
        user->RelateToType(NewType("is_tracked", PrimacyLeaf, true, true), Many, One, false);
        user->RelateToType(inList, One, One, true);
        user->RelateToType(room, Many, Many, false);
        room->RelateToType(NewType("is_private", PrimacyLeaf, true, true), Many, One, false);
        inList->RelateToType(NewType("user_list_group", PrimacyLeaf, false, true), Many, Many,
                             false);
    }

    ItemPtr Named(const char* type, const char* value) { return GetType(type)->GetItem(value); }
    ItemPtr Shared(const char* type) { return GetType(type)->GetGlobalNullItem(); }
    ItemPtr User(const char* name) { return Named("user", name); }

    PathNode* UserPath(std::initializer_list<std::pair<const char*, PathNodeRelation>> steps)
    {
        auto* root = new PathNode(this, "user");
        for (const auto& step : steps)
            new PathNode(root, step.first, step.second);
        return root;
    }
};

// Owner of a path registration; remembers the roots it was called with.
struct Recorder : DataHandler
{
    Recorder(Data& store, PathNode* root) { store.AddPathHandler(root, this, &Recorder::OnPath); }

    void OnPath(ItemPtr root) { roots.push_back(root), react(root); }

    QVector<Item*> roots;
    std::function<void(ItemPtr)> react = [](ItemPtr) {};
};
} // namespace

Q_DECLARE_METATYPE(Case)

class PathsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Store> store;

private slots:
    void init() { store = std::make_unique<Store>(); }

    void stepKindDecidesWhichChangesFire_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("required, held") << Case{PathRequired, PathRequired, true, true, 1};
        QTest::newRow("required, missing") << Case{PathRequired, PathRequired, false, true, 0};
        QTest::newRow("silent, held") << Case{PathRequiredSilent, PathRequired, true, true, 1};
        QTest::newRow("if on-connect") << Case{PathOnConnect, PathRequired, true, true, 0};
        QTest::newRow("if on-disconnect") << Case{PathOnDisconnect, PathRequired, true, true, 0};
        QTest::newRow("on-connect step") << Case{PathRequired, PathOnConnect, true, true, 1};
        QTest::newRow("absent, missing") << Case{PathAbsent, PathRequired, false, true, 1};
        QTest::newRow("absent, present") << Case{PathAbsent, PathRequired, true, true, 0};
        QTest::newRow("absent step") << Case{PathRequired, PathAbsent, true, false, 1};
        QTest::newRow("on-disconnect") << Case{PathRequired, PathOnDisconnect, true, false, 1};
        QTest::newRow("required removed") << Case{PathRequired, PathRequired, true, false, 0};
        QTest::newRow("silent step") << Case{PathRequired, PathRequiredSilent, true, true, 0};
        QTest::newRow("silent absent") << Case{PathRequired, PathAbsentSilent, true, false, 0};
    }

    // Registering replays nothing: only the change made afterwards may call.
    void stepKindDecidesWhichChangesFire()
    {
        QFETCH(Case, c);
        ItemPtr alice = store->User("alice"), tracked = store->Shared("is_tracked");
        if (c.online)
            alice += store->Shared("is_online");
        if (!c.connect)
            alice += tracked;
        Recorder recorder(*store,
                          store->UserPath({{"is_online", c.condition}, {"is_tracked", c.step}}));
        c.connect ? void(alice += tracked) : void(alice -= tracked);
        QCOMPARE(recorder.roots, QVector<Item*>(c.calls, alice));
    }

    void groupChangeReportsListedUserAndNeverNullRoot()
    {
        auto groupPath = [this](PathNodeRelation toList) {
            auto* root = new PathNode(store.get(), "user");
            new PathNode(new PathNode(root, "in_user_list", toList), "user_list_group",
                         PathOnConnect);
            return root;
        };
        Recorder listed(*store, groupPath(PathRequiredSilent)),
            unlisted(*store, groupPath(PathAbsent));
        ItemPtr alice = store->User("alice"), friends = store->Named("user_list_group", "friends");
        // A list without a user passes the absent step but reaches no user to report.
        store->GetType("in_user_list")->NewItem()->Connect(friends);
        alice.NewItem("in_user_list") += friends;
        QCOMPARE(listed.roots, QVector<Item*>{alice});
        QVERIFY(unlisted.roots.isEmpty());
    }

    void severalRootsGiveOneCallWithFirstRoot()
    {
        auto roomPath = [this]() {
            auto* root = new PathNode(store.get(), "room");
            new PathNode(root, "is_private", PathAbsentSilent);
            new PathNode(new PathNode(root, "user", PathRequiredSilent), "is_online", PathRequired);
            return root;
        };
        Recorder first(*store, roomPath()), second(*store, roomPath());
        ItemPtr alice = store->User("alice");
        std::set<Item*> rooms; // in identity order
        for (const char* name : {"lobby", "music", "games"})
            rooms.insert(alice += store->Named("room", name));
        // The first room no longer qualifies.
        ItemPtr(*rooms.begin()) += store->Shared("is_private");
        alice += store->Shared("is_online");
        QCOMPARE(first.roots, QVector<Item*>{*std::next(rooms.begin())});
        QCOMPARE(second.roots, first.roots);
    }

    // The owner called first changes the same pair and, nested, destroys the owner still ahead.
    void destroyedOwnerIsNeverCalledAndIsDiscarded()
    {
        auto path = [this]() {
            return store->UserPath({{"is_tracked", PathRequired}, {"is_online", PathAbsent}});
        };
        auto one = std::make_unique<Recorder>(*store, path()),
             other = std::make_unique<Recorder>(*store, path());
        ItemPtr tracked = store->Shared("is_tracked"), alice = store->User("alice"),
                bob = store->User("bob");
        int calls = 0;
        one->react = other->react = [&](ItemPtr root) {
            ++calls;
            if (root == alice)
                bob += tracked;
            else
                (one->roots.isEmpty() ? one : other).reset(); // the owner not called yet
        };
        alice += tracked;
        QVERIFY(bool(one) != bool(other));
        QCOMPARE((one ? one : other)->roots, (QVector<Item*>{alice, bob}));
        QCOMPARE(calls, 2);

        // Destroyed outside any call, the survivor leaves both its pairs at the next change.
        (one ? one : other).reset();
        ItemPtr carol = store->User("carol");
        carol += tracked; // discards the survivor's registration
        QCOMPARE(calls, 2);
        Recorder newcomer(*store, path());
        carol += store->Shared("is_online");
        carol -= store->Shared("is_online");
        store->User("dave") += tracked;
        QCOMPARE(newcomer.roots, (QVector<Item*>{carol, store->User("dave")}));
    }

    // alice -> room -> bob -> room: rooted at an item, with the pair (user, room) twice.
    void itemRootMatchesOnlyItsValueAndRepeatedPairUsesLaterStep()
    {
        ItemPtr alice = store->User("alice"), bob = store->User("bob");
        ItemPtr lobby = store->Named("room", "lobby");
        bob += lobby, store->User("carol") += lobby;
        auto* root = new PathNode(alice);
        auto* shared = new PathNode(root, "room", PathRequired);
        new PathNode(new PathNode(shared, bob, PathRequiredSilent), "room", PathRequired);
        Recorder recorder(*store, root);
        bob += store->Named("room", "games"); // reaches carol in the root's place, not alice
        alice += lobby;                       // would satisfy the first step, which is ignored
        QVERIFY(recorder.roots.isEmpty());
        bob += store->Named("room", "music");
        QCOMPARE(recorder.roots, QVector<Item*>{alice});
    }

    void rejectsReactingStepOverUnrelatedTypes()
    {
        Recorder owner(*store, store->UserPath({{"is_tracked", PathRequired}}));
        auto* root = store->UserPath({{"is_online", PathRequired}});
        new PathNode(new PathNode(root, "room", PathRequiredSilent), "is_online", PathOnDisconnect);
        auto* handler = new EventHandler<Recorder, ItemPtr>(&owner, &Recorder::OnPath);
        QVERIFY_EXCEPTION_THROWN(store->AddPathEventHandler(root, handler), NotRelatedException);
        // The caller still owns both; a half-made registration would now point at freed memory.
        delete handler;
        delete root;
        store->User("alice") += store->Shared("is_online");
        QVERIFY(owner.roots.isEmpty());
    }
};

QTEST_GUILESS_MAIN(PathsTest)

#include "tst_paths.moc"
