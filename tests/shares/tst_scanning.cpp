#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "SharesTestSetup.h"

using namespace SharesTypes;
using SharesTestSetup::SharedFiles;
using SharesTestSetup::WriteFile;

namespace {
// Constant 128 kbit/s MPEG-1 Layer III frames at 44.1 kHz with silent audio.
QByteArray Mp3Frames(int count)
{
    QByteArray frame(417, '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xFB);
    frame[2] = char(0x90);
    frame[3] = char(0x40);
    return frame.repeated(count);
}
} // namespace

class SharesScanningTest : public SharesTestSetup::Fixture
{
    Q_OBJECT

private slots:
    void initTestCase() { Build(); }

    void cleanupTestCase() { Destroy(); }

    void init() { SharesTestSetup::ForgetShares(); }

    // Runs first: the start-up walk happens once per manager.
    void startupWalkMatchesSynchronousWalk()
    {
        QTemporaryDir old;
        QTemporaryDir added;
        QVERIFY(WriteFile(old.path() + "/a.txt", "1"));
        QVERIFY(WriteFile(old.path() + "/sub/b.txt", "22"));
        QVERIFY(QDir().mkpath(old.path() + "/empty"));
        QVERIFY(WriteFile(added.path() + "/c.txt", "333"));
        shares->AddSharedFolder(old.path());
        QStringList walked = SharedFiles() << added.path() + "/c.txt 3";
        walked.sort();
        const int folders = int(d.GetType(sharedFileFolder)->ItemCount());
        SharesTestSetup::ForgetShares();

        d.GetType(sharedFolder)->GetItem(Value(old.path()));
        // Counted on this thread: a spy on the scanner would be filled on the scanner's thread
        // while the test reads it.
        int scanned = 0;
        QObject counter;
        connect(
            &shares->Scanner(), &FileScanner::FoldersScanned, &counter, [&scanned] { ++scanned; },
            Qt::QueuedConnection);
        shares->Init();
        // Shared while the walk runs: the merge must leave it alone.
        shares->AddSharedFolder(added.path());
        QTRY_COMPARE(scanned, 1);
        QTRY_COMPARE(SharedFiles(), walked);
        QCOMPARE(int(d.GetType(sharedFileFolder)->ItemCount()), folders + 1);
    }

    void rescanCountsChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("added");
        QTest::addColumn<int>("removed");
        QTest::newRow("file grown") << "grow" << 0 << 0;
        QTest::newRow("file added") << "add" << 1 << 0;
        QTest::newRow("subfolder deleted") << "delete" << 0 << 2;
    }

    void rescanCountsChanges()
    {
        QFETCH(QString, change);
        QFETCH(int, added);
        QFETCH(int, removed);
        QTemporaryDir root;
        QVERIFY(WriteFile(root.path() + "/a.txt", "1"));
        QVERIFY(WriteFile(root.path() + "/sub/b.txt", "2"));
        QVERIFY(WriteFile(root.path() + "/sub/deeper/c.txt", "3"));
        QVERIFY(WriteFile(root.path() + "/A.txt", "22")); // differs from a.txt only in case
        shares->AddSharedFolder(root.path());
        ItemPtr grown = shares->GetSharedFileItem(root.path() + "/a.txt");
        if (change == "grow")
            QVERIFY(WriteFile(root.path() + "/a.txt", "12345"));
        else if (change == "add")
            QVERIFY(WriteFile(root.path() + "/new.txt", "1"));
        else if (change == "delete")
            QVERIFY(QDir(root.path() + "/sub").removeRecursively());
        QSignalSpy rescanned(shares, &SharedFoldersManager::SharedFilesRescanned);
        shares->RescanShares();
        QCOMPARE(rescanned.value(0), (QVariantList{added, removed}));
        QCOMPARE(shares->GetSharedFileItem(root.path() + "/a.txt"), grown);
        QCOMPARE(grown[sharedFileSize].AsInt(), change == "grow" ? 5 : 1);
        QCOMPARE(int(d.GetType(sharedFile)->ItemCount()), 4 + added - removed);
        QCOMPARE(shares->GetSharedFileItem(root.path() + "/A.txt")[sharedFileSize].AsInt(), 2);
        QCOMPARE(d.GetType(sharedFileFolder)->HasItem(Value(root.path() + "/sub")) == nullptr,
                 change == "delete");
    }

    void unsharingRootForgetsOnlyWhatItAloneHeld()
    {
        QTemporaryDir outer;
        QTemporaryDir other;
        // The same file name in every share links the files to one another in the store.
        QVERIFY(WriteFile(outer.path() + "/a.txt", "1"));
        QVERIFY(WriteFile(outer.path() + "/inner/a.txt", "22"));
        QVERIFY(WriteFile(outer.path() + "/only/a.txt", "333"));
        QVERIFY(WriteFile(other.path() + "/a.txt", "4444"));
        ItemPtr outerRoot = shares->AddSharedFolder(outer.path());
        shares->AddSharedFolder(outer.path() + "/inner");
        shares->AddSharedFolder(other.path());
        shares->RemoveSharedFolder(outerRoot);
        QStringList kept{outer.path() + "/inner/a.txt 2", other.path() + "/a.txt 4"};
        kept.sort();
        QCOMPARE(SharedFiles(), kept);
        QVERIFY(d.GetType(sharedFolder)->HasItem(Value(outer.path())) == nullptr);
        QVERIFY(d.GetType(sharedFileFolder)->HasItem(Value(outer.path() + "/only")) == nullptr);
        QSignalSpy rescanned(shares, &SharedFoldersManager::SharedFilesRescanned);
        shares->RescanShares();
        QCOMPARE(rescanned.value(0), (QVariantList{0, 0}));
    }

    void scansMp3FilesOfAnyCase()
    {
        QTemporaryDir root;
        for (const char* name : {"a.mp3", "b.MP3", "c.Mp3", ".mp3", "d.mp3.txt"})
            QVERIFY(WriteFile(root.path() + "/" + name, Mp3Frames(60)));
        QSignalSpy required(shares, &SharedFoldersManager::MP3ScanRequired);
        shares->AddSharedFolder(root.path());
        QStringList names;
        for (const QList<QVariant>& request : required)
            names << request.at(0).toString().section('/', -1);
        names.sort();
        QCOMPARE(names, QStringList({"a.mp3", "b.MP3", "c.Mp3"}));
        ItemPtr mixed = shares->GetSharedFileItem(root.path() + "/c.Mp3");
        QTRY_VERIFY(mixed.IsConnected(isScanned));
        QCOMPARE(shares->GetFileItemDisplayString(mixed), QString("128 CBR"));
    }
};

QTEST_GUILESS_MAIN(SharesScanningTest)
#include "tst_scanning.moc"
