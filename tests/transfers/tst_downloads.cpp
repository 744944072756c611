#include <QFile>
#include <QPointer>
#include <QTcpSocket>
#include <QtTest>

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

    void fileAlreadyInPlaceIsNotAskedFor()
    {
        TransfersTestSetup::User("ann", true);
        QDir().mkpath(setup.Downloads() + "/complete/Album");
        QFile file(setup.Downloads() + "/complete/Album/a.mp3");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        ItemPtr entry = Add("ann", "a.mp3", "music\\Artist\\Album");
        QCOMPARE(Status(entry), QString("complete"));
        QVERIFY(TransfersTestSetup::Pending("ann").isEmpty());
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
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("single");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("complete");
        QTest::addColumn<QString>("partial");
        auto row = [](const char* name, const char* folder, int level, bool single,
                      const char* setting, const char* complete, const char* partial) {
            QTest::newRow(name) << QString(folder) << level << single << QString(setting)
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
    }

    void placesFilesUnderTheDownloadFolder()
    {
        QFETCH(QString, folder);
        QFETCH(int, level);
        QFETCH(bool, single);
        QFETCH(QString, setting);
        QFETCH(QString, complete);
        QFETCH(QString, partial);
        if (!setting.isEmpty())
            Settings::Set(setting.toUtf8().constData(), "yes");
        ItemPtr entry = Add("ann", "a.mp3", folder.toUtf8().constData(), level, single);
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
        QTemporaryDir saved;
        const QStringList statuses = {"queued",  "downloading", "complete",
                                      "aborted", "denied",      "local error"};
        for (const QString& status : statuses)
        {
            ItemPtr entry = Add("fay", status.toUtf8().constData(), "music");
            entry.Connect(d.GetType(placeInLine)->GetItem(Value(3)));
            Manager()->SetDownloadEntryStatus(entry, status);
        }
        dataSaver->Save(saved.path() + "/store");
        for (ItemPtr entry : g(downloadEntry))
            Manager()->RemoveDownload(entry);
        DataSaver* saver = dataSaver;
        {
            DataSaver loader;
            loader.Load(saved.path() + "/store");
        }
        dataSaver = saver;
        Manager()->DataLoaded();
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
};

QTEST_GUILESS_MAIN(DownloadsTest)
#include "tst_downloads.moc"
