#include <string>
#include <vector>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "ConfigurationImporter.h"
#include "Data.h"
#include "MemStream.h"

namespace {
const char* const userType = "user";
const char* const entryType = "in_user_list";
const char* const groupType = "user_list_group";

ItemPtr User(const std::string& name)
{
    return d.GetType(userType)->HasItem(name);
}

// A user-list file as the older client writes it: a count, then each name as a byte string.
QByteArray UserList(quint32 count, const std::vector<std::string>& names)
{
    MemStream file;
    file.Write(count);
    for (const std::string& name : names)
        file.Write(name);
    return QByteArray(file.GetWrittenData(), file.GetWrittenLength());
}
} // namespace

class ImportTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // As the server connection declares them.
        Type* user = d.NewType(userType, PrimacyRoot, false, true);
        Type* entry = d.NewType(entryType, PrimacyLeaf, true, true);
        Type* group = d.NewType(groupType, PrimacyRoot, false, true);
        user->RelateToType(entry, One, One, false);
        entry->RelateToType(group, Many, Many, false);
        QVERIFY(folder.isValid());
    }

    // amy is in the user list, in the group "friends"; carl is known but not listed.
    void init()
    {
        d.RemoveAllItems();
        listedUser = d.GetType(userType)->GetItem("amy");
        listedEntry = d.GetType(entryType)->NewItem();
        listedUser += listedEntry;
        listedEntry += d.GetType(groupType)->GetItem("friends");
        d.GetType(userType)->GetItem("carl");
    }

    void addsEveryNameOnce()
    {
        const std::string withNul("dee\0tail", 8);
        const QString path = Write(UserList(5, {"bob", "carl", "bob", withNul, ""}) + "trailer");
        QVERIFY(ConfigurationImporter::ImportUserList(path));
        for (const char* name : {"bob", "carl", "dee", ""})
            QVERIFY2(User(name).IsConnected(entryType), name);
        QVERIFY(!User(withNul));
        QCOMPARE(d.GetType(userType)->ItemCount(), size_t(5));
        QCOMPARE(d.GetType(entryType)->ItemCount(), size_t(5));

        QVERIFY(ConfigurationImporter::ImportUserList(Write(UserList(0, {}))));
        QCOMPARE(d.GetType(entryType)->ItemCount(), size_t(5));
    }

    void keepsUsersAlreadyListedAndTheirGroups()
    {
        QVERIFY(ConfigurationImporter::ImportUserList(Write(UserList(2, {"amy", "bob"}))));
        QCOMPARE(listedUser[entryType], listedEntry);
        QCOMPARE(listedEntry.GetItems(groupType).Size(), size_t(1));
        QVERIFY(listedEntry.IsConnected(d.GetType(groupType)->HasItem("friends")));
        QVERIFY(User("bob").IsConnected(entryType));
        QVERIFY(!User("bob")[entryType].IsConnected(groupType));
        QCOMPARE(d.GetType(entryType)->ItemCount(), size_t(2));
    }

    void refusesMalformedFileAndChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("count larger than the names") << UserList(3, {"bob", "dee"});
        QTest::newRow("count over the limit, names all there")
            << UserList(0x20001, std::vector<std::string>(0x20001));
        QTest::newRow("name cut short") << UserList(1, {"bob"}).chopped(1);
        QTest::newRow("name length over the limit, bytes all there")
            << UserList(1, {}) + QByteArray::fromHex("01000200") + QByteArray(0x20001, 'x');
        QTest::newRow("count cut short") << QByteArray::fromHex("0100");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("no file") << QByteArray("missing");
    }

    void refusesMalformedFileAndChangesNothing()
    {
        QFETCH(QByteArray, file);
        const QString path = file == "missing" ? folder.filePath("no_such_file") : Write(file);
        QVERIFY(!path.isEmpty());
        QVERIFY(!ConfigurationImporter::ImportUserList(path));
        QCOMPARE(d.GetType(userType)->ItemCount(), size_t(2));
        QCOMPARE(d.GetType(entryType)->ItemCount(), size_t(1));
        QCOMPARE(listedUser[entryType], listedEntry);
        QVERIFY(!User("bob"));
    }

private:
    QString Write(const QByteArray& bytes)
    {
        const QString path = folder.filePath("user_list.cfg");
        QFile file(path);
        const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        return written ? path : QString();
    }

    QTemporaryDir folder;
    ItemPtr listedUser;
    ItemPtr listedEntry;
};

QTEST_MAIN(ImportTest)
#include "tst_import.moc"
