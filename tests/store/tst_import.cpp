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

    void importsWholeFilesAndKeepsListedUsers()
    {
        QVERIFY(!ConfigurationImporter::ImportUserList(folder.filePath("no_such_file")));
        // A count larger than the names, and a name cut short: nothing is taken from either.
        for (const QByteArray& file :
             {UserList(3, {"bob", "dee"}), UserList(1, {"bob"}).chopped(1)})
            QVERIFY(!ConfigurationImporter::ImportUserList(Write(file)));
        QCOMPARE(d.GetType(userType)->ItemCount(), size_t(2));
        QCOMPARE(d.GetType(entryType)->ItemCount(), size_t(1));

        // Names end at their first NUL; equal names count once; bytes after the names are left.
        const std::string withNul("dee\0tail", 8);
        QVERIFY(ConfigurationImporter::ImportUserList(
            Write(UserList(6, {"amy", "bob", "carl", "bob", withNul, ""}) + "trailer")));
        for (const char* name : {"bob", "carl", "dee", ""})
            QVERIFY2(ItemPtr(d.GetType(userType)->HasItem(name)).IsConnected(entryType), name);
        QCOMPARE(d.GetType(userType)->ItemCount(), size_t(5));
        QCOMPARE(d.GetType(entryType)->ItemCount(), size_t(5));
        // A new entry would have dropped amy out of her group.
        QCOMPARE(listedUser[entryType], listedEntry);
        QVERIFY(listedEntry.IsConnected(d.GetType(groupType)->HasItem("friends")));
    }

private:
    // Writes the bytes as the user-list file and returns its path, or nothing on failure.
    QString Write(const QByteArray& bytes)
    {
        QFile file(folder.filePath("user_list.cfg"));
        const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        return written ? file.fileName() : QString();
    }

    QTemporaryDir folder;
    ItemPtr listedUser;
    ItemPtr listedEntry;
};

QTEST_MAIN(ImportTest)
#include "tst_import.moc"
