#include <functional>
#include <memory>
#include <set>

#include <QtTest>

#include "Data.h"

Q_DECLARE_METATYPE(PathNodeRelation)

namespace {
constexpr const char* kUser = "user";
constexpr const char* kRoom = "room";
constexpr const char* kIsOnline = "is_online";
constexpr const char* kIsTracked = "is_tracked";
constexpr const char* kIsPrivate = "is_private";
constexpr const char* kInUserList = "in_user_list";
constexpr const char* kUserListGroup = "user_list_group";

struct Store : Data
{
    Store()
    {
        Type* user = NewType(kUser, PrimacyRoot, false, true);
        Type* room = NewType(kRoom, PrimacyRoot, false, true);
        Type* inList = NewType(kInUserList, PrimacyIntermediate, true, true);
        user->RelateToType(NewType(kIsOnline, PrimacyLeaf, true, true), Many, One, false);
        user->RelateToType(NewType(kIsTracked, PrimacyLeaf, true, true), Many, One, false);
        user->RelateToType(inList, One, One, true);
        user->RelateToType(room, Many, Many, false);
        room->RelateToType(NewType(kIsPrivate, PrimacyLeaf, true, true), Many, One, false);
        inList->RelateToType(NewType(kUserListGroup, PrimacyLeaf, false, true), Many, Many, false);
    }

    ItemPtr Named(const char* type, const char* value) { return GetType(type)->GetItem(value); }
    ItemPtr Shared(const char* type) { return GetType(type)->GetGlobalNullItem(); }

    PathNode* UserPath(std::initializer_list<std::pair<const char*, PathNodeRelation>> steps)
    {
        auto* root = new PathNode(this, kUser);
        for (const auto& step : steps)
            new PathNode(root, step.first, step.second);
        return root;
    }
};

// Owner of a path registration; remembers the roots it was called with.
struct Recorder : DataHandler
{
    Recorder(Data& store, PathNode* root) { store.AddPathHandler(root, this, &Recorder::OnPath); }

    void OnPath(ItemPtr root)
    {
        roots.push_back(root);
        react(root);
    }

    QVector<Item*> roots;
    std::function<void(ItemPtr)> react = [](ItemPtr) {};
};
} // namespace

class PathsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Store> store;

private slots:
    void init() { store = std::make_unique<Store>(); }

    void stepKindDecidesWhichChangesFire_data()
    {
        QTest::addColumn<PathNodeRelation>("condition");
        QTest::addColumn<PathNodeRelation>("step");
        QTest::addColumn<bool>("online");
        QTest::addColumn<bool>("connect");
        QTest::addColumn<int>("calls");
        QTest::newRow("required, held") << PathRequired << PathRequired << true << true << 1;
        QTest::newRow("required, missing") << PathRequired << PathRequired << false << true << 0;
        QTest::newRow("silent, held") << PathRequiredSilent << PathRequired << true << true << 1;
        QTest::newRow("if on-connect") << PathOnConnect << PathRequired << true << true << 0;
        QTest::newRow("if on-disconnect") << PathOnDisconnect << PathRequired << true << true << 0;
        QTest::newRow("on-connect step") << PathRequired << PathOnConnect << true << true << 1;
        QTest::newRow("absent, missing") << PathAbsent << PathRequired << false << true << 1;
        QTest::newRow("absent, present") << PathAbsent << PathRequired << true << true << 0;
        QTest::newRow("absent step") << PathRequired << PathAbsent << true << false << 1;
        QTest::newRow("on-disconnect") << PathRequired << PathOnDisconnect << true << false << 1;
        QTest::newRow("required removed") << PathRequired << PathRequired << true << false << 0;
        QTest::newRow("silent step") << PathRequired << PathRequiredSilent << true << true << 0;
        QTest::newRow("silent absent") << PathRequired << PathAbsentSilent << true << false << 0;
    }

    // Steps to is_online (the condition) and is_tracked (changed); registering replays nothing.
    void stepKindDecidesWhichChangesFire()
    {
        QFETCH(PathNodeRelation, condition);
        QFETCH(PathNodeRelation, step);
        QFETCH(bool, online);
        QFETCH(bool, connect);
        QFETCH(int, calls);
        ItemPtr alice = store->Named(kUser, "alice");
        ItemPtr tracked = store->Shared(kIsTracked);
        if (online)
            alice += store->Shared(kIsOnline);
        if (!connect)
            alice += tracked;
        Recorder recorder(*store, store->UserPath({{kIsOnline, condition}, {kIsTracked, step}}));
        if (connect)
            alice += tracked;
        else
            alice -= tracked;
        QCOMPARE(recorder.roots, QVector<Item*>(calls, alice));
    }

    void groupChangeReportsListedUserAndNeverNullRoot()
    {
        auto groupPath = [this](PathNodeRelation toList) {
            auto* root = new PathNode(store.get(), kUser);
            new PathNode(new PathNode(root, kInUserList, toList), kUserListGroup, PathOnConnect);
            return root;
        };
        Recorder listed(*store, groupPath(PathRequiredSilent));
        Recorder unlisted(*store, groupPath(PathAbsent));
        ItemPtr alice = store->Named(kUser, "alice");
        ItemPtr friends = store->Named(kUserListGroup, "friends");
        // A list without a user passes the absent step but reaches no user to report.
        store->GetType(kInUserList)->NewItem()->Connect(friends);
        alice.NewItem(kInUserList) += friends;
        QCOMPARE(listed.roots, QVector<Item*>{alice});
        QVERIFY(unlisted.roots.isEmpty());
    }

    void severalRootsGiveOneCallWithFirstRoot()
    {
        auto roomPath = [this]() {
            auto* root = new PathNode(store.get(), kRoom);
            new PathNode(root, kIsPrivate, PathAbsentSilent);
            new PathNode(new PathNode(root, kUser, PathRequiredSilent), kIsOnline, PathRequired);
            return root;
        };
        Recorder first(*store, roomPath());
        Recorder second(*store, roomPath());
        ItemPtr alice = store->Named(kUser, "alice");
        std::set<Item*> rooms; // in identity order
        for (const char* name : {"lobby", "music", "games"})
            rooms.insert(alice += store->Named(kRoom, name));
        ItemPtr(*rooms.begin()) += store->Shared(kIsPrivate); // the first room no longer qualifies
        alice += store->Shared(kIsOnline);
        QCOMPARE(first.roots, QVector<Item*>{*std::next(rooms.begin())});
        QCOMPARE(second.roots, first.roots);
    }

    // The owner called first changes the same pair and, nested, destroys the owner still ahead.
    void destroyedOwnerIsNeverCalledAndIsDiscarded()
    {
        auto path = [this]() {
            return store->UserPath({{kIsTracked, PathRequired}, {kIsOnline, PathAbsent}});
        };
        auto one = std::make_unique<Recorder>(*store, path());
        auto other = std::make_unique<Recorder>(*store, path());
        ItemPtr tracked = store->Shared(kIsTracked);
        ItemPtr alice = store->Named(kUser, "alice");
        ItemPtr bob = store->Named(kUser, "bob");
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
        ItemPtr carol = store->Named(kUser, "carol");
        carol += tracked; // discards the survivor's registration
        QCOMPARE(calls, 2);
        Recorder newcomer(*store, path());
        carol += store->Shared(kIsOnline);
        carol -= store->Shared(kIsOnline);
        store->Named(kUser, "dave") += tracked;
        QCOMPARE(newcomer.roots, (QVector<Item*>{carol, store->Named(kUser, "dave")}));
    }

    // alice -> room -> bob -> room: rooted at an item, with the pair (user, room) twice.
    void itemRootMatchesOnlyItsValueAndRepeatedPairUsesLaterStep()
    {
        ItemPtr alice = store->Named(kUser, "alice");
        ItemPtr bob = store->Named(kUser, "bob");
        ItemPtr lobby = store->Named(kRoom, "lobby");
        bob += lobby;
        store->Named(kUser, "carol") += lobby;
        auto* root = new PathNode(alice);
        auto* shared = new PathNode(root, kRoom, PathRequired);
        new PathNode(new PathNode(shared, bob, PathRequiredSilent), kRoom, PathRequired);
        Recorder recorder(*store, root);
        bob += store->Named(kRoom, "games"); // reaches carol in the root's place, not alice
        alice += lobby;                      // would satisfy the first step, which is ignored
        QVERIFY(recorder.roots.isEmpty());
        bob += store->Named(kRoom, "music");
        QCOMPARE(recorder.roots, QVector<Item*>{alice});
    }

    void rejectsReactingStepOverUnrelatedTypes()
    {
        Recorder owner(*store, store->UserPath({{kIsTracked, PathRequired}}));
        auto* root = store->UserPath({{kIsOnline, PathRequired}});
        new PathNode(new PathNode(root, kRoom, PathRequiredSilent), kIsOnline, PathOnDisconnect);
        auto* handler = new EventHandler<Recorder, ItemPtr>(&owner, &Recorder::OnPath);
        QVERIFY_EXCEPTION_THROWN(store->AddPathEventHandler(root, handler), NotRelatedException);
        // The caller still owns both; a half-made registration would now point at freed memory.
        delete handler;
        delete root;
        store->Named(kUser, "alice") += store->Shared(kIsOnline);
        QVERIFY(owner.roots.isEmpty());
    }
};

QTEST_GUILESS_MAIN(PathsTest)

#include "tst_paths.moc"
