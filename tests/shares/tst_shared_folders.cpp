#include <QTemporaryDir>
#include <QtTest>

#include "PeerTypes.h"
#include "ServerStore.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTestSetup.h"

using namespace SharesTypes;

class SharesManagerTest : public SharesTestSetup::Fixture
{
    Q_OBJECT

private:
    ItemPtr Root(const QString& path) { return d.GetType(sharedFolder)->GetItem(Value(path)); }

    // A shared file item made without the disk.
    ItemPtr AddFile(const QString& root, const QString& folder, const QString& name, int size = 1)
    {
        ItemPtr folderItem = d.GetType(sharedFileFolder)->GetItem(Value(folder));
        Root(root).Connect(folderItem);
        ItemPtr file = folderItem.NewItem(sharedFile);
        file.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
        file.Connect(d.GetType(sharedFileSize)->GetItem(Value(size)));
        shares->TokenizeSharedFile(file);
        return file;
    }

private slots:
    void initTestCase()
    {
        Build();
        shares->Init();
    }

    void cleanupTestCase() { Destroy(); }

    void init() { SharesTestSetup::ForgetShares(); }

    void showsRootsByAudience_data()
    {
        QTest::addColumn<QString>("audience");
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("visible");
        for (const char* audience : {"everyone", "user list", "group"})
        {
            const QString kind(audience);
            QTest::addRow("%s, stranger", audience) << kind << "stranger" << (kind == "everyone");
            QTest::addRow("%s, listed", audience) << kind << "listed" << (kind != "group");
            QTest::addRow("%s, group member", audience) << kind << "member" << true;
            QTest::addRow("%s, unshared member", audience) << kind << "unshared" << false;
        }
        QTest::newRow("no user item") << "everyone"
                                      << "nobody" << true;
    }

    void showsRootsByAudience()
    {
        QFETCH(QString, audience);
        QFETCH(QString, user);
        QFETCH(bool, visible);
        ItemPtr root = Root("/shared");
        ItemPtr file = AddFile("/shared", "/shared", "a.mp3");
        ItemPtr group = d.GetType(ServerTypes::userListGroup)->GetItem("friends");
        if (audience == "everyone")
            root.NewItem(sharedPublic);
        else if (audience == "user list")
            root.NewItem(sharedUserlist);
        else
            root.Connect(group);
        if (user != "nobody")
        {
            ItemPtr userItem = ServerStore::User(user);
            userItem.Disconnect(unshared);
            if (user != "stranger")
                userItem.NewItem(ServerTypes::inUserList).Disconnect(ServerTypes::userListGroup);
            if (user == "member" || user == "unshared")
                userItem[ServerTypes::inUserList].Connect(group);
            if (user == "unshared")
                userItem.NewItem(unshared);
        }
        QCOMPARE(shares->GetUserSharedFolders(user).Contains(root), visible);
        QCOMPARE(shares->IsFileSharedWithUser(file, user), visible);
        QCOMPARE(shares->ProcessSearch(user, 1, "a.mp3"), visible);
    }

    void unsharesUserAtTheAddressOfAnUnsharedUser()
    {
        ItemPtr first = ServerStore::User("first");
        ItemPtr second = ServerStore::User("second");
        first.NewItem(unshared);
        ServerStore::SetAttribute(first, PeerTypes::userAddress, Value(1234u));
        ServerStore::SetAttribute(second, PeerTypes::userAddress, Value(999u));
        QVERIFY(!second.IsConnected(unshared));
        ServerStore::SetAttribute(second, PeerTypes::userAddress, Value(1234u));
        QVERIFY(second.IsConnected(unshared));
    }

    void findsFileByPathPreferringExactCase_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("size");
        QTest::newRow("exact") << "/m/Song.mp3" << 1;
        QTest::newRow("as a peer names it") << "\\m\\Song.mp3" << 1;
        QTest::newRow("doubled separators") << "//m//song.mp3" << 2;
        QTest::newRow("in another folder") << "/other/Song.mp3" << 0;
        QTest::newRow("unknown name") << "/m/none.mp3" << 0;
    }

    void findsFileByPathPreferringExactCase()
    {
        QFETCH(QString, path);
        QFETCH(int, size);
        AddFile("/m", "/m", "Song.mp3", 1);
        AddFile("/m", "/m", "song.mp3", 2);
        AddFile("/other", "/other", "x.mp3", 3);
        QCOMPARE(shares->GetSharedFileItem(path)[sharedFileSize].AsInt(), size);
    }

    void indexesWordsOfFolderAndName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("tokens");
        QTest::newRow("both passes") << "Artist - Song (Live).mp3"
                                     << "(live).mp3 - artist home live mp3 music song user";
        QTest::newRow("latin-1 letters") << "Café naïve.mp3"
                                         << "café home mp3 music naïve naïve.mp3 user";
        QTest::newRow("cyrillic") << "Привет мир.mp3"
                                  << "home mp3 music user мир.mp3 привет";
        QTest::newRow("short words") << "a 2010.ogg"
                                     << "2010 2010.ogg a home music ogg user";
    }

    void indexesWordsOfFolderAndName()
    {
        QFETCH(QString, name);
        QFETCH(QString, tokens);
        ItemPtr file = AddFile("/home/user/Music", "/home/user/Music", name);
        QStringList words;
        for (const std::string& word : shares->IndexedWords(file))
            words << QString::fromStdString(word);
        words.sort();
        QCOMPARE(words.join(' '), tokens);
    }

    void answersOnlyUsableQueries_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("finishing");
        QTest::addColumn<bool>("answered");
        QTest::newRow("short word narrows a long one") << "my love" << false << true;
        QTest::newRow("part word alone") << "*love" << false << false;
        QTest::newRow("only a short plain word") << "my *love" << false << false;
        QTest::newRow("unknown word") << "love zebra" << false << false;
        QTest::newRow("phrase with a blank") << "\"my love\"" << false << false;
        QTest::newRow("excluded name") << "love -song" << false << false;
        QTest::newRow("finishing uploads") << "my love" << true << false;
    }

    void answersOnlyUsableQueries()
    {
        QFETCH(QString, query);
        QFETCH(bool, finishing);
        QFETCH(bool, answered);
        Root("/s").NewItem(sharedPublic);
        AddFile("/s", "/s/my", "Love Song.mp3");
        Settings::Set(SharesSettings::finishUploadsAndQuit, finishing ? "yes" : "no",
                      Settings::runtime);
        QCOMPARE(shares->ProcessSearch("bob", 1, query), answered);
    }
};

QTEST_GUILESS_MAIN(SharesManagerTest)
#include "tst_shared_folders.moc"
