#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

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
constexpr const char* kGlobal = "global";
constexpr const char* kGlobalValue = "global_value";

void DeclareTypes(Data& store)
{
    Type* user = store.NewType(kUser, PrimacyRoot, false, true);
    Type* room = store.NewType(kRoom, PrimacyRoot, false, true);
    Type* online = store.NewType(kIsOnline, PrimacyLeaf, true, true);
    Type* tracked = store.NewType(kIsTracked, PrimacyLeaf, true, true);
    Type* isPrivate = store.NewType(kIsPrivate, PrimacyLeaf, true, true);
    Type* inList = store.NewType(kInUserList, PrimacyIntermediate, true, true);
    Type* group = store.NewType(kUserListGroup, PrimacyLeaf, false, true);
    Type* global = store.NewType(kGlobal, PrimacyRoot, false, true);
    Type* globalValue = store.NewType(kGlobalValue, PrimacyLeaf, false, true);
    user->RelateToType(online, Many, One, false);
    user->RelateToType(tracked, Many, One, false);
    user->RelateToType(inList, One, One, true);
    user->RelateToType(room, Many, Many, false);
    room->RelateToType(isPrivate, Many, One, false);
    inList->RelateToType(group, Many, Many, false);
    global->RelateToType(globalValue, Many, One, false);
}

ItemPtr Named(Data& store, const char* type, const char* value)
{
    return store.GetType(type)->GetItem(value);
}

ItemPtr Shared(Data& store, const char* type)
{
    return store.GetType(type)->GetGlobalNullItem();
}

PathNode* OnlinePath(Data& store)
{
    auto* root = new PathNode(&store, kUser);
    new PathNode(root, kIsOnline, PathRequired);
    return root;
}

// Owner of path registrations; remembers every root it was called with and, when given a
// log, the order in which owners were called.
class Recorder : public DataHandler
{
public:
    Recorder() = default;
    Recorder(Data& store, PathNode* root, std::vector<Recorder*>* log = nullptr) : log(log)
    {
        Watch(store, root);
    }

    void Watch(Data& store, PathNode* root) { store.AddPathHandler(root, this, &Recorder::OnPath); }

    void OnPath(ItemPtr root)
    {
        roots.push_back(root);
        if (log)
            log->push_back(this);
        if (react)
            react(root);
    }

    QVector<Item*> roots;
    std::function<void(ItemPtr)> react;

private:
    std::vector<Recorder*>* log = nullptr;
};
} // namespace

class PathsTest : public QObject
{
    Q_OBJECT

private slots:
    void stepKindDecidesWhichChangesFire_data();
    void stepKindDecidesWhichChangesFire();
    void pathWithoutReactingStepNeverFires_data();
    void pathWithoutReactingStepNeverFires();
    void groupChangeOfListedUserReportsUser();
    void skipsCallWhenRootIsNotReached();
    void valuedRootMatchesOnlyItsValue_data();
    void valuedRootMatchesOnlyItsValue();
    void severalRootsGiveOneCallWithFirstRoot();
    void destroyedOwnerIsSkippedAndDiscarded();
    void ownerDestroyedInNestedDispatchIsNotCalled();
    void repeatedPairReactsThroughLaterStep();
    void rejectsReactingStepOverUnrelatedTypes();
};

// Path: user with a condition step to is_online and the changed step to is_tracked.
void PathsTest::stepKindDecidesWhichChangesFire_data()
{
    QTest::addColumn<PathNodeRelation>("condition");
    QTest::addColumn<PathNodeRelation>("step");
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("connect");
    QTest::addColumn<int>("calls");

    auto row = [](const char* name, PathNodeRelation condition, PathNodeRelation step, bool online,
                  bool connect, int calls) {
        QTest::newRow(name) << condition << step << online << connect << calls;
    };
    row("required, condition held", PathRequired, PathRequired, true, true, 1);
    row("required, condition missing", PathRequired, PathRequired, false, true, 0);
    row("silent condition held", PathRequiredSilent, PathRequired, true, true, 1);
    row("silent condition missing", PathRequiredSilent, PathRequired, false, true, 0);
    row("required beside on-connect", PathOnConnect, PathRequired, true, true, 0);
    row("on-connect, condition held", PathRequired, PathOnConnect, true, true, 1);
    row("on-connect, condition missing", PathRequired, PathOnConnect, false, true, 0);
    row("absent condition missing", PathAbsent, PathRequired, false, true, 1);
    row("absent condition present", PathAbsent, PathRequired, true, true, 0);
    row("silent absent missing", PathAbsentSilent, PathRequired, false, true, 1);
    row("silent absent present", PathAbsentSilent, PathRequired, true, true, 0);
    row("on-disconnect condition", PathOnDisconnect, PathRequired, false, true, 0);
    row("required ignores removal", PathRequired, PathRequired, true, false, 0);
    row("on-connect ignores removal", PathRequired, PathOnConnect, true, false, 0);
    row("absent fires on removal", PathRequired, PathAbsent, true, false, 1);
    row("absent, condition missing", PathRequired, PathAbsent, false, false, 0);
    row("on-disconnect fires", PathRequired, PathOnDisconnect, true, false, 1);
    row("absent ignores connect", PathRequired, PathAbsent, true, true, 0);
    row("on-disconnect ignores connect", PathRequired, PathOnDisconnect, true, true, 0);
    row("silent step ignores connect", PathRequired, PathRequiredSilent, true, true, 0);
    row("silent absent ignores removal", PathRequired, PathAbsentSilent, true, false, 0);
}

void PathsTest::stepKindDecidesWhichChangesFire()
{
    QFETCH(PathNodeRelation, condition);
    QFETCH(PathNodeRelation, step);
    QFETCH(bool, online);
    QFETCH(bool, connect);
    QFETCH(int, calls);

    Data store;
    DeclareTypes(store);
    ItemPtr alice = Named(store, kUser, "alice");
    ItemPtr tracked = Shared(store, kIsTracked);
    if (online)
        alice += Shared(store, kIsOnline);
    if (!connect)
        alice += tracked;
    Named(store, kUser, "bob") += tracked;

    auto* root = new PathNode(&store, kUser);
    new PathNode(root, kIsOnline, condition);
    new PathNode(root, kIsTracked, step);
    Recorder recorder(store, root);
    QVERIFY(recorder.roots.isEmpty()); // existing connections are not replayed

    if (connect)
        alice += tracked;
    else
        alice -= tracked;
    QCOMPARE(recorder.roots, QVector<Item*>(calls, alice));
}

void PathsTest::pathWithoutReactingStepNeverFires_data()
{
    QTest::addColumn<QVector<PathNodeRelation>>("kinds");
    QTest::newRow("no steps") << QVector<PathNodeRelation>{};
    QTest::newRow("required silent") << QVector<PathNodeRelation>{PathRequiredSilent};
    QTest::newRow("absent silent") << QVector<PathNodeRelation>{PathAbsentSilent};
    QTest::newRow("both silent") << QVector<PathNodeRelation>{PathRequiredSilent, PathAbsentSilent};
}

void PathsTest::pathWithoutReactingStepNeverFires()
{
    QFETCH(QVector<PathNodeRelation>, kinds);
    Data store;
    DeclareTypes(store);
    const char* const partners[] = {kIsOnline, kIsTracked};
    auto* root = new PathNode(&store, kUser);
    for (int index = 0; index < kinds.size(); ++index)
        new PathNode(root, partners[index], kinds[index]);
    Recorder recorder(store, root);

    ItemPtr alice = Named(store, kUser, "alice");
    for (const char* partner : partners)
    {
        alice += Shared(store, partner);
        alice -= Shared(store, partner);
        alice += Shared(store, partner);
    }
    QVERIFY(recorder.roots.isEmpty());
}

void PathsTest::groupChangeOfListedUserReportsUser()
{
    Data store;
    DeclareTypes(store);
    ItemPtr alice = Named(store, kUser, "alice");
    ItemPtr aliceList = alice.NewItem(kInUserList);
    ItemPtr friends = Named(store, kUserListGroup, "friends");
    auto groupPath = [&store](PathNodeRelation kind) {
        auto* root = new PathNode(&store, kUser);
        new PathNode(new PathNode(root, kInUserList, PathRequiredSilent), kUserListGroup, kind);
        return root;
    };
    Recorder added(store, groupPath(PathOnConnect));
    Recorder removed(store, groupPath(PathOnDisconnect));

    aliceList += friends;
    QCOMPARE(added.roots, QVector<Item*>{alice});

    // A list item without a user, and the user's own link to its list, report nothing.
    store.GetType(kInUserList)->NewItem()->Connect(friends);
    ItemPtr bob = Named(store, kUser, "bob");
    ItemPtr bobList = store.GetType(kInUserList)->NewItem();
    bobList += friends;
    bob += bobList;
    QCOMPARE(added.roots, QVector<Item*>{alice});
    QVERIFY(removed.roots.isEmpty());

    aliceList -= friends;
    QCOMPARE(removed.roots, QVector<Item*>{alice});
    // Removing the group fires for the connections it loses, although they are gone by then.
    friends.Remove();
    QCOMPARE(removed.roots, (QVector<Item*>{alice, bob}));
    QCOMPARE(added.roots, QVector<Item*>{alice});
}

void PathsTest::skipsCallWhenRootIsNotReached()
{
    Data store;
    DeclareTypes(store);
    auto* root = new PathNode(&store, kUser);
    new PathNode(new PathNode(root, kInUserList, PathAbsent), kUserListGroup, PathRequired);
    Recorder recorder(store, root);

    ItemPtr group = Named(store, kUserListGroup, "friends");
    store.GetType(kInUserList)->NewItem()->Connect(group); // passes without reaching a user
    Named(store, kUser, "alice").NewItem(kInUserList).Connect(group); // listed: absent fails
    QVERIFY(recorder.roots.isEmpty());
}

void PathsTest::valuedRootMatchesOnlyItsValue_data()
{
    QTest::addColumn<QByteArray>("rootKey");
    QTest::addColumn<QByteArray>("wanted"); // empty: any value
    QTest::addColumn<QByteArray>("changedKey");
    QTest::addColumn<QByteArray>("newValue");
    QTest::addColumn<int>("calls");

    auto row = [](const char* name, const char* rootKey, const char* wanted, const char* changedKey,
                  const char* newValue, int calls) {
        QTest::newRow(name) << QByteArray(rootKey) << QByteArray(wanted) << QByteArray(changedKey)
                            << QByteArray(newValue) << calls;
    };
    row("own key", "username", "", "username", "bob", 1);
    row("other key", "username", "", "listening_port", "2240", 0);
    row("wanted value", "show_diagnostics", "yes", "show_diagnostics", "yes", 1);
    row("other value", "show_diagnostics", "yes", "show_diagnostics", "no", 0);
    row("wanted value, other key", "show_diagnostics", "yes", "user_level_logging", "yes", 0);
}

void PathsTest::valuedRootMatchesOnlyItsValue()
{
    QFETCH(QByteArray, rootKey);
    QFETCH(QByteArray, wanted);
    QFETCH(QByteArray, changedKey);
    QFETCH(QByteArray, newValue);
    QFETCH(int, calls);

    Data store;
    DeclareTypes(store);
    ItemPtr key = Named(store, kGlobal, rootKey.constData());
    key += Named(store, kGlobalValue, "initial");
    auto* root = new PathNode(key);
    if (wanted.isEmpty())
        new PathNode(root, kGlobalValue, PathRequired);
    else
        new PathNode(root, Named(store, kGlobalValue, wanted.constData()), PathRequired);
    Recorder recorder(store, root);

    Named(store, kGlobal, changedKey.constData()) +=
        Named(store, kGlobalValue, newValue.constData());
    QCOMPARE(recorder.roots, QVector<Item*>(calls, key));
}

void PathsTest::severalRootsGiveOneCallWithFirstRoot()
{
    Data store;
    DeclareTypes(store);
    auto roomPath = [&store]() {
        auto* root = new PathNode(&store, kRoom);
        new PathNode(root, kIsPrivate, PathAbsentSilent);
        new PathNode(new PathNode(root, kUser, PathRequiredSilent), kIsOnline, PathRequired);
        return root;
    };
    Recorder first(store, roomPath());
    Recorder second(store, roomPath());

    ItemPtr alice = Named(store, kUser, "alice");
    std::vector<Item*> rooms;
    for (const char* name : {"lobby", "music", "games", "news"})
        rooms.push_back(Named(store, kRoom, name));
    std::sort(rooms.begin(), rooms.end(), std::less<Item*>());
    for (Item* room : rooms)
        alice += room;
    ItemPtr(rooms.front()) += Shared(store, kIsPrivate); // the first room no longer qualifies
    Named(store, kRoom, "empty");                        // reaches nobody

    Named(store, kUser, "bob") += Shared(store, kIsOnline); // in no room
    QVERIFY(first.roots.isEmpty());

    alice += Shared(store, kIsOnline);
    QCOMPARE(first.roots, QVector<Item*>{rooms[1]});
    QCOMPARE(second.roots, QVector<Item*>{rooms[1]});
}

void PathsTest::destroyedOwnerIsSkippedAndDiscarded()
{
    Data store;
    DeclareTypes(store);
    ItemPtr online = Shared(store, kIsOnline);
    ItemPtr alice = Named(store, kUser, "alice");
    ItemPtr bob = Named(store, kUser, "bob");
    std::vector<Recorder*> log;
    auto one = std::make_unique<Recorder>(store, OnlinePath(store), &log);
    auto other = std::make_unique<Recorder>(store, OnlinePath(store), &log);

    alice += online; // learns the fixed order of the two registrations
    QCOMPARE(log.size(), size_t(2));
    Recorder* early = log[0];
    std::unique_ptr<Recorder>& late = log[1] == one.get() ? one : other;
    early->react = [&late](ItemPtr) { late.reset(); };

    bob += online;
    QVERIFY(!late);
    QCOMPARE(log.size(), size_t(3)); // the destroyed owner's turn was skipped
    early->react = nullptr;
    bob -= online;
    bob += online;
    QCOMPARE(log.size(), size_t(4));

    Recorder newcomer(store, OnlinePath(store));
    alice -= online;
    alice += online;
    QCOMPARE(newcomer.roots, QVector<Item*>{alice});
    QCOMPARE(early->roots, (QVector<Item*>{alice, bob, bob, alice}));

    // The only registration on its two pairs: discarding it must drop it from both tables
    // and leave the pairs open to a successor.
    auto trackedPath = [&store]() {
        auto* root = new PathNode(&store, kUser);
        new PathNode(root, kIsTracked, PathRequired);
        new PathNode(root, kIsOnline, PathAbsent);
        return root;
    };
    auto lone = std::make_unique<Recorder>(store, trackedPath(), &log);
    lone.reset();
    ItemPtr tracked = Shared(store, kIsTracked);
    alice += tracked;
    alice -= online;
    QCOMPARE(log.size(), size_t(5));

    Recorder successor(store, trackedPath());
    bob += tracked; // bob is online: the absent condition fails
    QVERIFY(successor.roots.isEmpty());
    ItemPtr carol = Named(store, kUser, "carol");
    carol += tracked;
    bob -= online;
    QCOMPARE(successor.roots, (QVector<Item*>{carol, bob}));
}

void PathsTest::ownerDestroyedInNestedDispatchIsNotCalled()
{
    Data store;
    DeclareTypes(store);
    ItemPtr online = Shared(store, kIsOnline);
    ItemPtr alice = Named(store, kUser, "alice");
    ItemPtr bob = Named(store, kUser, "bob");
    ItemPtr carol = Named(store, kUser, "carol");
    std::vector<Recorder*> log;
    auto one = std::make_unique<Recorder>(store, OnlinePath(store), &log);
    auto other = std::make_unique<Recorder>(store, OnlinePath(store), &log);

    alice += online;
    QCOMPARE(log.size(), size_t(2));
    Recorder* trigger = log[0];
    std::unique_ptr<Recorder>& victim = log[1] == one.get() ? one : other;
    log.clear();
    // Bob's call makes another change on the same pair; inside it the victim is destroyed,
    // while the outer dispatch still has the victim's registration ahead of it.
    trigger->react = [&](ItemPtr root) {
        if (root == bob)
            carol += online;
        else if (root == carol)
            victim.reset();
    };

    bob += online;
    QVERIFY(!victim);
    QCOMPARE(log, (std::vector<Recorder*>{trigger, trigger}));
    QCOMPARE(trigger->roots, (QVector<Item*>{alice, bob, carol}));

    trigger->react = nullptr;
    alice -= online;
    alice += online;
    QCOMPARE(log.size(), size_t(3));
}

void PathsTest::repeatedPairReactsThroughLaterStep()
{
    Data store;
    DeclareTypes(store);
    ItemPtr alice = Named(store, kUser, "alice");
    ItemPtr bob = Named(store, kUser, "bob");
    ItemPtr lobby = Named(store, kRoom, "lobby");
    ItemPtr music = Named(store, kRoom, "music");
    alice += lobby;
    bob += lobby;
    bob += music;

    // alice -> room -> bob -> room: the pair (user, room) appears twice.
    auto* root = new PathNode(alice);
    auto* shared = new PathNode(root, kRoom, PathRequired);
    new PathNode(new PathNode(shared, bob, PathRequiredSilent), kRoom, PathRequired);
    Recorder recorder(store, root);

    alice += music; // would satisfy the first step, which no longer reacts
    QVERIFY(recorder.roots.isEmpty());
    bob += Named(store, kRoom, "games");
    QCOMPARE(recorder.roots, QVector<Item*>{alice});
}

void PathsTest::rejectsReactingStepOverUnrelatedTypes()
{
    Data store;
    DeclareTypes(store);
    Recorder owner;
    auto* root = OnlinePath(store);
    new PathNode(root, kGlobal, PathRequired);
    auto* handler = new EventHandler<Recorder, ItemPtr>(&owner, &Recorder::OnPath);
    QVERIFY_EXCEPTION_THROWN(store.AddPathEventHandler(root, handler), NotRelatedException);
    // The caller still owns both; a half-made registration would now point at freed memory.
    delete handler;
    delete root;

    auto* bad = OnlinePath(store);
    new PathNode(bad, kGlobal, PathOnDisconnect);
    QVERIFY_EXCEPTION_THROWN(owner.Watch(store, bad), NotRelatedException);
    QVERIFY(owner.handlers.empty());

    // Silent steps are not checked: over unrelated types they just find no items.
    auto* lenient = OnlinePath(store);
    new PathNode(lenient, kGlobal, PathAbsentSilent);
    owner.Watch(store, lenient);
    ItemPtr alice = Named(store, kUser, "alice");
    alice += Shared(store, kIsOnline);
    QCOMPARE(owner.roots, QVector<Item*>{alice});
}

QTEST_GUILESS_MAIN(PathsTest)

#include "tst_paths.moc"
