#include <QFile>
#include <QPointer>
#include <QTcpSocket>
#include <QtTest>

#include "DownloadPath.h"
#include "PeerMessageCode.h"
#include "TransfersTestSetup.h"

using namespace TransferTypes;

namespace {
const std::uint32_t queueCode = PeerMessageCode::PM_QUEUE_UPLOAD;

QString Status(ItemPtr entry)
{
    return entry[downloadEntryStatus].AsString();
}
} // namespace

class DownloadsTest : public QObject
{
    Q_OBJECT

private:
    TransfersTestSetup setup;
    QMap<QString, QString> defaults;

    TransferQueueManager* Manager() { return setup.manager; }

    ItemPtr Add(const QString& user, const char* file, const char* folder, int level = 0,
                bool single = false)
    {
        return Manager()->AddDownload(user, file, folder, 100, single, level);
    }

    // A file of that many bytes at the path below the download folder.
    void PlaceFile(const QString& relative, int size)
    {
        const QString path = setup.Downloads() + "/" + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(QByteArray(size, 'x')), qint64(size));
    }

    // The entry's local path, relative to the download folder.
    QString Relative(ItemPtr entry, bool complete)
    {
        const QString path =
            TransferQueueManager::LocalPath(Manager()->GetDownloadTargetPath(entry, complete));
        return QDir(setup.Downloads()).relativeFilePath(path);
    }

private slots:
    void initTestCase()
    {
        setup.Build();
        for (const char* key :
             {"upload_slots", "max_queued_uploads_per_user", "transfer_order_counter",
              "upload_speed_limit", "upload_speed_limit_enabled", "download_folder"})
            defaults[key] = Settings::GetText(key);
        Manager()->DataLoaded();
        Manager()->NoData();
    }

    void cleanupTestCase() { setup.Destroy(); }

    void init()
    {
        for (ItemPtr entry : g(downloadEntry))
            Manager()->RemoveDownload(entry);
        TransfersTestSetup::ForgetMessages();
        Settings::Set("download_folder", setup.Downloads());
        Settings::Clear("dont_split_downloads");
        Settings::Clear("dont_create_subfolders_for_single_downloads");
        QDir(setup.Downloads()).removeRecursively();
    }

    void writesDefaultsBeforeTheLoad_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const QStringList rows = {"upload_slots",
                                  "1",
                                  "max_queued_uploads_per_user",
                                  "200",
                                  "transfer_order_counter",
                                  "1",
                                  "upload_speed_limit",
                                  "0",
                                  "upload_speed_limit_enabled",
                                  "no",
                                  "download_folder",
                                  QDir::homePath() + "/Vandrell Downloads"};
        for (int i = 0; i < rows.size(); i += 2)
            QTest::newRow(qPrintable(rows[i])) << rows[i] << rows[i + 1];
    }

    void writesDefaultsBeforeTheLoad()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QCOMPARE(defaults.value(key), value);
    }

    void correctsSettingsAfterTheLoad_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("corrected");
        const QString slotKey = "upload_slots", queue = "max_queued_uploads_per_user";
        QTest::newRow("no slots") << slotKey << QString("0") << QString("1");
        QTest::newRow("negative slots") << slotKey << QString("-3") << QString("1");
        QTest::newRow("four slots") << slotKey << QString("4") << QString("4");
        QTest::newRow("queue limit 9") << queue << QString("9") << QString("10");
        QTest::newRow("queue limit 11") << queue << QString("11") << QString("11");
    }

    void correctsSettingsAfterTheLoad()
    {
        QFETCH(QString, key);
        QFETCH(QString, saved);
        QFETCH(QString, corrected);
        Settings::Set(key.toUtf8().constData(), saved);
        Manager()->DataLoaded();
        QCOMPARE(Settings::GetText(key.toUtf8().constData()), corrected);
    }

    void findsAndRemovesEntries()
    {
        ItemPtr entry = Add("ann", "a.mp3", "music\\Album");
        QCOMPARE(Manager()->GetDownloadEntry("ann", "a.mp3", "music\\Album"), entry);
        QVERIFY(Manager()->GetDownloadEntry("bob", "a.mp3", "music\\Album").IsNull());
        QVERIFY(Manager()->GetDownloadEntry("ann", "a.mp3", "music\\Other").IsNull());
        ItemPtr second = Add("ann", "b.mp3", "music\\Album");
        QCOMPARE(second[downloadOrder].AsInt64(), entry[downloadOrder].AsInt64() + 1);
        Manager()->RemoveDownload(entry);
        QVERIFY(Manager()->GetDownloadEntry("ann", "a.mp3", "music\\Album").IsNull());
        QCOMPARE(Manager()->GetDownloadEntry("ann", "b.mp3", "music\\Album"), second);
    }

    void duplicateAddReturnsTheExistingEntry_data()
    {
        QTest::addColumn<QString>("status");
        for (const char* status : {"queued", "aborted", "denied", "complete"})
            QTest::newRow(status) << status;
    }

    void duplicateAddReturnsTheExistingEntry()
    {
        QFETCH(QString, status);
        TransfersTestSetup::User("ann", true);
        ItemPtr entry = Add("ann", "a.mp3", "music\\Album");
        Manager()->SetDownloadEntryStatus(entry, status);
        TransfersTestSetup::ForgetMessages();
        QCOMPARE(Manager()->AddDownload("ann", "a.mp3", "music\\Album", 555, false, 0), entry);
        QCOMPARE(Status(entry), status);
        QCOMPARE(int(g(downloadEntry).Size()), 1);
        QVERIFY(TransfersTestSetup::Pending("ann").isEmpty());
    }

    void asksOnlyOnlineUsersToQueue_data()
    {
        QTest::addColumn<bool>("online");
        QTest::newRow("online") << true;
        QTest::newRow("offline") << false;
    }

    void asksOnlyOnlineUsersToQueue()
    {
        QFETCH(bool, online);
        TransfersTestSetup::User("carl", online);
        ItemPtr entry = Add("carl", "a.mp3", "music\\Album");
        QCOMPARE(Status(entry), QString("queued"));
        QCOMPARE(TransfersTestSetup::Pending("carl").count(queueCode), online ? 1 : 0);
        const QDateTime next = QDateTime::fromString(
            entry[ServerTypes::user][nextPlaceInLineRequestTime].AsString(), Qt::TextDate);
        QVERIFY(next > QDateTime::currentDateTime().addSecs(5));
    }

    void sendsTheRemotePathAsReceived()
    {
        TransfersTestSetup::User("dora", true);
        Add("dora", "..\\x\xc3\xa9.mp3", "a\\..\\..\\b");
        QByteArray expected("a\\..\\..\\b\\..\\x\xc3\xa9.mp3");
        QByteArray field = TransfersTestSetup::Pending("dora").value(queueCode);
        QCOMPARE(field.mid(4), expected);
    }

    // Only a file of the queued size is taken for this download's finished file.
    void fileAlreadyInPlaceIsNotAskedFor_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("status");
        QTest::newRow("queued size") << 100 << "complete";
        QTest::newRow("another size") << 99 << "queued";
        QTest::newRow("empty") << 0 << "queued";
    }

    void fileAlreadyInPlaceIsNotAskedFor()
    {
        QFETCH(int, size);
        QFETCH(QString, status);
        TransfersTestSetup::User("ann", true);
        PlaceFile("complete/Album/a.mp3", size);
        ItemPtr entry = Add("ann", "a.mp3", "music\\Artist\\Album");
        QCOMPARE(Status(entry), status);
        QCOMPARE(TransfersTestSetup::Pending("ann").count(queueCode), status == "queued" ? 1 : 0);
    }

    void excludesEndingsWithoutRegardToCase_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("excluded");
        QTest::newRow("first run, lower") << "setup.ini" << true;
        QTest::newRow("first run, upper") << "SETUP.INI" << true;
        QTest::newRow("inside the name") << "a.ini.mp3" << false;
    }

    void excludesEndingsWithoutRegardToCase()
    {
        QFETCH(QString, name);
        QFETCH(bool, excluded);
        QCOMPARE(Manager()->HasExcludedDownloadExtension(name), excluded);
    }

    void placesFilesUnderTheDownloadFolder_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("single");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("complete");
        QTest::addColumn<QString>("partial");
        auto row = [](const char* name, const char* folder, int level, bool single,
                      const char* setting, const char* complete, const char* partial) {
            QTest::newRow(name) << QByteArray(folder) << level << single << QString(setting)
                                << QString(complete) << QString(partial);
        };
        row("level 0", "music\\Artist\\Album", 0, false, "", "complete/Album/a.mp3",
            "downloading/Album/a.mp3");
        row("level 1", "music\\Artist\\Album", 1, false, "", "complete/Artist/Album/a.mp3",
            "downloading/Artist/Album/a.mp3");
        row("not split", "m\\Album", 0, false, "dont_split_downloads", "Album/a.mp3",
            "Album/a.mp3");
        row("single, flat", "m\\Album", 0, true, "dont_create_subfolders_for_single_downloads",
            "complete/a.mp3", "downloading/a.mp3");
        row("level past the top", "music\\Artist\\Album", INT_MAX, false, "",
            "complete/music/Artist/Album/a.mp3", "downloading/music/Artist/Album/a.mp3");
        row("negative level", "music\\Artist\\Album", -4, false, "", "complete/Album/a.mp3",
            "downloading/Album/a.mp3");
        row("8-bit folder", "music\\Caf\xe9", 0, false, "", "complete/Caf\u00e9/a.mp3",
            "downloading/Caf\u00e9/a.mp3");
        row("UTF-8 folder", "music\\Caf\xc3\xa9", 0, false, "", "complete/Caf\u00e9/a.mp3",
            "downloading/Caf\u00e9/a.mp3");
    }

    void placesFilesUnderTheDownloadFolder()
    {
        QFETCH(QByteArray, folder);
        QFETCH(int, level);
        QFETCH(bool, single);
        QFETCH(QString, setting);
        QFETCH(QString, complete);
        QFETCH(QString, partial);
        if (!setting.isEmpty())
            Settings::Set(setting.toUtf8().constData(), "yes");
        ItemPtr entry = Add("ann", "a.mp3", folder.constData(), level, single);
        QCOMPARE(Relative(entry, true), complete);
        QCOMPARE(Relative(entry, false), partial);
    }

    void hostileNamesStayInsideTheDownloadFolder_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("level");
        QTest::newRow("parents in folder") << QByteArray("..\\..\\x") << QByteArray("a") << 5;
        QTest::newRow("absolute folder") << QByteArray("/etc") << QByteArray("passwd") << 3;
        QTest::newRow("parents inside") << QByteArray("a\\..\\..\\b") << QByteArray("c") << 9;
        QTest::newRow("parent as file") << QByteArray("music") << QByteArray("..") << 0;
        QTest::newRow("path as file") << QByteArray("music") << QByteArray("../../../x") << 0;
        QTest::newRow("backslash path as file") << QByteArray("m") << QByteArray("..\\..\\x") << 0;
        QTest::newRow("NUL in name") << QByteArray("m") << QByteArray("a\0/../b", 7) << 0;
        QTest::newRow("empty components") << QByteArray("\\\\\\") << QByteArray("") << 2;
    }

    void hostileNamesStayInsideTheDownloadFolder()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, file);
        QFETCH(int, level);
        ItemPtr entry = Manager()->AddDownload("mallory", file.toStdString(), folder.toStdString(),
                                               1, false, level);
        for (bool complete : {true, false})
        {
            const QString path =
                TransferQueueManager::LocalPath(Manager()->GetDownloadTargetPath(entry, complete));
            const QString relative = QDir(setup.Downloads()).relativeFilePath(path);
            QVERIFY2(!relative.startsWith("..") && !QDir::isAbsolutePath(relative),
                     qPrintable(path));
            QVERIFY2(QDir::cleanPath(path) == path, qPrintable(path));
        }
        QCOMPARE(Status(entry), QString("queued"));
    }

    void restartQueuesEveryUnfinishedEntry()
    {
        const QStringList statuses = {"queued",  "downloading", "complete",
                                      "aborted", "denied",      "local error"};
        for (const QString& status : statuses)
        {
            ItemPtr entry = Add("fay", status.toUtf8().constData(), "music");
            entry.Connect(d.GetType(placeInLine)->GetItem(Value(3)));
            Manager()->SetDownloadEntryStatus(entry, status);
        }
        setup.SaveAndLoad();
        QCOMPARE(int(g(downloadEntry).Size()), statuses.size());
        for (const QString& status : statuses)
        {
            ItemPtr entry = Manager()->GetDownloadEntry("fay", status.toStdString(), "music");
            QCOMPARE(Status(entry), status == "complete" ? status : QString("queued"));
            QVERIFY(entry[placeInLine].IsNull());
        }
    }

    void leavingDownloadingReleasesTheSocket()
    {
        ItemPtr entry = Add("gus", "a.mp3", "music");
        Manager()->SetDownloadEntryStatus(entry, "downloading");
        QPointer<QTcpSocket> socket = new QTcpSocket;
        auto* position = new qint64(5);
        entry.Connect(d.GetType(downloadSocket)->GetItem(Value(socket.data())));
        entry.Connect(d.GetType(writePosition)->GetItem(Value(position)));
        Manager()->SetDownloadEntryStatus(entry, "aborted");
        QVERIFY(entry[downloadSocket].IsNull());
        QVERIFY(entry[writePosition].IsNull());
        QTRY_VERIFY_WITH_TIMEOUT(socket.isNull(), 5000);
        QVERIFY(entry[ServerTypes::user].IsConnected(lastQueueRequestTime));
    }

    void eightBitFolderNamesKeepTheirFilesApart()
    {
        TransfersTestSetup::User("hal", true);
        PlaceFile("complete/Caf\u00e9/a.mp3", 100);
        ItemPtr acute = Add("hal", "a.mp3", "music\\Caf\xe9");
        ItemPtr grave = Add("hal", "a.mp3", "music\\Caf\xe8");
        QCOMPARE(Status(acute), QString("complete"));
        QCOMPARE(Status(grave), QString("queued"));
        QCOMPARE(TransfersTestSetup::Pending("hal").count(queueCode), 1);
        QVERIFY(Relative(acute, false) != Relative(grave, false));
        QCOMPARE(Relative(grave, true), QString("complete/Caf\u00e8/a.mp3"));
    }

    void findsEachEntryAmongSharedNames()
    {
        QMap<QString, ItemPtr> entries;
        for (const char* user : {"ann", "bob"})
            for (const char* folder : {"x\\cd1", "x\\cd2", "y\\cd1"})
                entries[QString("%1 %2").arg(user, folder)] = Add(user, "01.mp3", folder);
        Manager()->RemoveDownload(entries.take("bob x\\cd2"));
        for (const char* user : {"ann", "bob", "cy"})
            for (const char* folder : {"x\\cd1", "x\\cd2", "y\\cd1"})
            {
                ItemPtr found = Manager()->GetDownloadEntry(user, "01.mp3", folder);
                QCOMPARE(found, entries.value(QString("%1 %2").arg(user, folder)));
            }
        QVERIFY(Manager()->GetDownloadEntry("ann", "02.mp3", "x\\cd1").IsNull());
    }

    void requeueLeavesFinishedAndRunningEntries_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("fileInPlace");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("requests");
        QTest::newRow("complete") << "complete" << -1 << "complete" << 0;
        QTest::newRow("downloading") << "downloading" << -1 << "downloading" << 0;
        QTest::newRow("aborted") << "aborted" << -1 << "queued" << 1;
        QTest::newRow("denied") << "denied" << -1 << "queued" << 1;
        QTest::newRow("local error") << "local error" << -1 << "queued" << 1;
        QTest::newRow("aborted, file in place") << "aborted" << 100 << "complete" << 0;
        QTest::newRow("aborted, another file in place") << "aborted" << 7 << "queued" << 1;
    }

    void requeueLeavesFinishedAndRunningEntries()
    {
        QFETCH(QString, status);
        QFETCH(int, fileInPlace);
        QFETCH(QString, after);
        QFETCH(int, requests);
        // Offline: a requeue asks whatever the user's state.
        TransfersTestSetup::User("ida", false);
        ItemPtr entry = Add("ida", "a.mp3", "music\\Album");
        Manager()->SetDownloadEntryStatus(entry, status);
        if (fileInPlace >= 0)
            PlaceFile("complete/Album/a.mp3", fileInPlace);
        Manager()->RequeueDownload(entry);
        QCOMPARE(Status(entry), after);
        QCOMPARE(TransfersTestSetup::Pending("ida").count(queueCode), requests);
    }

    void removesAFinishedFolderOnlyWhenNothingElseNeedsIt_data()
    {
        QTest::addColumn<QByteArray>("remote");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("single");
        QTest::addColumn<bool>("dontSplit");
        // The status of another user's entry in the same remote folder; none when empty.
        QTest::addColumn<QString>("other");
        // A file, relative to the download folder, that is there before the removal.
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("gone");
        QTest::addColumn<QStringList>("kept");
        const QString none;
        QTest::newRow("last of its folder")
            << QByteArray("music\\Album") << 0 << false << false << none << none
            << QStringList{"downloading/Album"} << QStringList{"downloading", "."};
        QTest::newRow("unfinished entry in the folder")
            << QByteArray("music\\Album") << 0 << false << false << "queued" << none
            << QStringList() << QStringList{"downloading/Album"};
        QTest::newRow("finished entry in the folder")
            << QByteArray("music\\Album") << 0 << false << false << "complete" << none
            << QStringList{"downloading/Album"} << QStringList{"downloading"};
        QTest::newRow("single download")
            << QByteArray("music\\Album") << 0 << true << false << none << none << QStringList()
            << QStringList{"downloading/Album"};
        QTest::newRow("level 1") << QByteArray("music\\Artist\\Album") << 1 << false << false
                                 << none << none
                                 << QStringList{"downloading/Artist/Album", "downloading/Artist"}
                                 << QStringList{"downloading"};
        QTest::newRow("level 1, another folder's partial file")
            << QByteArray("music\\Artist\\Album") << 1 << false << false << none
            << "downloading/Artist/Live/b.mp3" << QStringList{"downloading/Artist/Album"}
            << QStringList{"downloading/Artist", "downloading/Artist/Live"};
        QTest::newRow("same local folder, another remote folder's partial file")
            << QByteArray("music\\Album") << 0 << false << false << none
            << "downloading/Album/b.mp3" << QStringList() << QStringList{"downloading/Album"};
        QTest::newRow("not split, finished file in place")
            << QByteArray("music\\Album") << 0 << false << true << none << "Album/a.mp3"
            << QStringList() << QStringList{"Album", "."};
        QTest::newRow("not split, no remote folder") << QByteArray("") << 0 << false << true << none
                                                     << none << QStringList() << QStringList{"."};
        QTest::newRow("no remote folder") << QByteArray("") << 3 << false << false << none << none
                                          << QStringList() << QStringList{"downloading"};
    }

    void removesAFinishedFolderOnlyWhenNothingElseNeedsIt()
    {
        QFETCH(QByteArray, remote);
        QFETCH(int, level);
        QFETCH(bool, single);
        QFETCH(bool, dontSplit);
        QFETCH(QString, other);
        QFETCH(QString, file);
        QFETCH(QStringList, gone);
        QFETCH(QStringList, kept);
        if (dontSplit)
            Settings::Set("dont_split_downloads", "yes");
        ItemPtr entry = Add("joe", "a.mp3", remote.constData(), level, single);
        QDir downloads(setup.Downloads());
        QVERIFY(downloads.mkpath(
            TransferQueueManager::LocalPath(Manager()->GetDownloadTargetFolder(entry, false))));
        if (!dontSplit)
            QVERIFY(downloads.mkpath("downloading"));
        if (!other.isEmpty())
            Manager()->SetDownloadEntryStatus(Add("kim", "b.mp3", remote.constData(), level),
                                              other);
        if (!file.isEmpty())
        {
            QVERIFY(downloads.mkpath(QFileInfo(downloads.filePath(file)).path()));
            QFile partial(downloads.filePath(file));
            QVERIFY(partial.open(QIODevice::WriteOnly));
        }
        Manager()->SetDownloadEntryStatus(entry, "complete");
        Manager()->RemoveDownloadDownloadingFolderIfAppropriate(entry);
        for (const QString& folder : gone)
            QVERIFY2(!downloads.exists(folder), qPrintable(folder));
        for (const QString& folder : kept)
            QVERIFY2(downloads.exists(folder), qPrintable(folder));
    }

    void refusesADownloadFolderThatIsNotAFullPath_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<bool>("kept");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank") << "   " << false;
        QTest::newRow("relative") << "Downloads/music" << false;
        QTest::newRow("full path") << setup.Downloads() + "/elsewhere" << true;
    }

    void refusesADownloadFolderThatIsNotAFullPath()
    {
        QFETCH(QString, saved);
        QFETCH(bool, kept);
        const QString fallback = QDir::homePath() + "/Vandrell Downloads";
        const QString root = kept ? saved : fallback;
        // Read at use, before any load corrects the setting.
        Settings::Set("download_folder", saved);
        ItemPtr entry = Add("lou", "a.mp3", "music\\Album");
        QCOMPARE(TransferQueueManager::LocalPath(Manager()->GetDownloadTargetPath(entry, true)),
                 root + "/complete/Album/a.mp3");
        Manager()->DataLoaded();
        QCOMPARE(Settings::GetText("download_folder"), root);
    }

    // A damaged store may give two downloads one path: it stays with one of them.
    void aPathSavedTwiceStaysWithOneDownload()
    {
        const QString path = setup.Downloads() + "/downloading/CD1/a.mp3";
        for (const char* remote : {"p\\CD1", "q\\CD1"})
            Add("ned", "a.mp3", remote, 0, true)
                .Connect(d.GetType(downloadLocalPath)->GetItem(Value(path)));
        setup.SaveAndLoad();
        QCOMPARE(g(downloadEntry).Size(), 2u);
        ItemPtr kept = d.GetType(downloadLocalPath)->HasItem(Value(path));
        QCOMPARE(kept.GetItems(downloadEntry).Size(), 1u);
    }

    // Of p, q and r\Music, q is removed before the restart: its number is given again only while
    // nothing of it lies on disk, and below the bound of numbers.
    void folderNumbersHoldAcrossASaveAndLoad_data()
    {
        QTest::addColumn<QString>("onDisk");
        QTest::addColumn<QString>("later");
        QTest::addColumn<QString>("expected");
        const char* rows[][4] = {
            {"another file of a numbered folder", "", "r\\Music", "Music (3)"},
            {"a subfolder of a numbered folder", "", "r\\Music\\CD2", "Music (3)/CD2"},
            {"a freed number, nothing on disk", "", "s\\Music", "Music (2)"},
            {"a freed number, a folder on disk", "complete/Music (2)", "s\\Music", "Music (4)"},
            {"a freed number, a partial on disk", "downloading/Music (2)", "s\\Music", "Music (4)"},
            {"every number taken", "complete/Music (2)", "s\\Music", ""}};
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]) << QString(row[3]);
    }

    void folderNumbersHoldAcrossASaveAndLoad()
    {
        QFETCH(QString, onDisk);
        QFETCH(QString, later);
        QFETCH(QString, expected);
        for (const char* remote : {"p\\Music", "q\\Music", "r\\Music"})
            Add("max", "a.mp3", remote);
        Manager()->RemoveDownload(Manager()->GetDownloadEntry("max", "a.mp3", "q\\Music"));
        setup.SaveAndLoad();
        QDir().mkpath(setup.Downloads() + "/" + onDisk);
        const int defaultBound = DownloadPath::NumberedNameBound();
        DownloadPath::SetNumberedNameBoundForTests(expected.isEmpty() ? 3 : defaultBound);
        ItemPtr entry = Add("max", "b.mp3", qPrintable(later), later.count('\\') - 1);
        DownloadPath::SetNumberedNameBoundForTests(defaultBound);
        QCOMPARE(Status(entry), QString(expected.isEmpty() ? "local error" : "queued"));
        if (!expected.isEmpty())
            QCOMPARE(QFileInfo(Relative(entry, true)).path(), "complete/" + expected);
    }
};

QTEST_GUILESS_MAIN(DownloadsTest)
#include "tst_downloads.moc"
