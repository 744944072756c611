#include <QTemporaryDir>
#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"

using namespace ServerTypes;

namespace {
ItemPtr ItemOf(const char* type, const char* value)
{
    return d.GetType(type)->GetItem(value);
}
} // namespace

// The server's types as the rest of the client relies on them: what one item may hold, and what
// survives a restart.
class TypesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void writesAvailabilityDefault();
    void oneEndsReplaceTheirPartner();
    void savesUserListIgnoredAndAutojoinOnly();

private:
    // The saver first: the server registers with it, and the types register what is saved.
    DataSaver saver;
    Server server;
};

void TypesTest::initTestCase()
{
    Settings::DeclareTypes(d);
    server.CreateData();
}

void TypesTest::cleanup()
{
    d.RemoveAllItems();
}

void TypesTest::writesAvailabilityDefault()
{
    QCOMPARE(Settings::GetText(ServerSettings::availabilityStatus), QString("available"));
}

void TypesTest::oneEndsReplaceTheirPartner()
{
    ItemPtr bob = ItemOf(user, "bob");
    bob.Connect(ItemOf(countryCode, "NL"));
    bob.Connect(ItemOf(countryCode, "DE"));
    QCOMPARE(bob[countryCode].AsString(), QString("DE"));
    QVERIFY(d.GetType(countryCode)->HasItem("NL"));

    ItemPtr lobby = ItemOf(room, "lobby");
    ItemPtr owner = lobby.NewItem(roomOwner);
    owner.Connect(bob);
    owner.Connect(ItemOf(user, "eve"));
    QCOMPARE(owner.GetItems(user).Size(), size_t(1));
    ItemPtr operators = lobby.NewItem(roomOperators);
    operators.Connect(bob);
    operators.Connect(ItemOf(user, "eve"));
    ItemOf(room, "hall").NewItem(roomOperators).Connect(bob);
    QCOMPARE(operators.GetItems(user).Size(), size_t(2));
    QCOMPARE(bob.GetItems(roomOperators).Size(), size_t(2));

    ItemPtr listed = bob.NewItem(inUserList);
    listed.Connect(ItemOf(userListGroup, "friends"));
    listed.Connect(ItemOf(userListGroup, "work"));
    QCOMPARE(listed.GetItems(userListGroup).Size(), size_t(2));
    QCOMPARE(bob.NewItem(inUserList), listed);
}

void TypesTest::savesUserListIgnoredAndAutojoinOnly()
{
    QTemporaryDir home;
    const QString prefix = home.path() + "/.Vandrell";
    ItemOf(room, "lobby").NewItem(roomAutojoin);
    ItemOf(room, "passing");
    ItemOf(user, "friend").NewItem(inUserList).Connect(ItemOf(userListGroup, "pals"));
    ItemOf(userListGroup, "pals").Connect(ItemOf(groupDownloadPriority, "3"));
    ItemPtr pest = ItemOf(user, "pest");
    pest.NewItem(isIgnored);
    for (const char* mark : {isOnline, isAway, isTracked, userAddressRequest})
        pest.NewItem(mark);
    ItemOf(user, "stranger").NewItem(isOnline);
    Settings::Set(ServerSettings::availabilityStatus, "away");

    saver.Save(prefix);
    d.RemoveAllItems();
    saver.Load(prefix);

    QVERIFY(!ItemOf(room, "lobby").HasItem(roomAutojoin).IsNull());
    QVERIFY(!d.GetType(room)->HasItem("passing"));
    QVERIFY(!d.GetType(user)->HasItem("stranger"));
    QCOMPARE(ItemOf(user, "friend")[inUserList][userListGroup].AsString(), QString("pals"));
    QCOMPARE(ItemOf(userListGroup, "pals")[groupDownloadPriority].AsString(), QString("3"));
    pest = ItemOf(user, "pest");
    QVERIFY(!pest.HasItem(isIgnored).IsNull());
    for (const char* mark : {isOnline, isAway, isTracked, userAddressRequest})
        QVERIFY2(pest.HasItem(mark).IsNull(), mark);
    QCOMPARE(Settings::GetText(ServerSettings::availabilityStatus), QString("away"));
    // The server settles its own setting once the store is loaded.
    QVERIFY(Settings::IsYes(ServerSettings::useUpnp));
}

QTEST_MAIN(TypesTest)
#include "tst_types.moc"
