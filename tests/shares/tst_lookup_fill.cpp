#include <QSignalSpy>
#include <QtTest>

#include "PeerTypes.h"
#include "SharesTestSetup.h"

using namespace SharesTypes;

class LookupFillTest : public SharesTestSetup::Fixture
{
    Q_OBJECT

    static constexpr int folderCount = 40;

    static ItemPtr MakeFile(const QString& folder, const QString& name)
    {
        ItemPtr file =
            ItemPtr(d.GetType(sharedFileFolder)->GetItem(Value(folder))).NewItem(sharedFile);
        file.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
        return file;
    }
    static QString Folder(int at) { return QString("/Share/Artist %1/Album").arg(at); }
    // As a peer asks: other case, backslashes.
    static QString Peer(QString path) { return path.toUpper().replace('/', '\\'); }
    ItemPtr Find(const QString& path) { return shares->GetSharedFileItem(Peer(path)); }

private slots:
    void initTestCase() { Build(); }
    void cleanupTestCase() { Destroy(); }

    // A manager made over a store that holds the folders, as after a load.
    void init()
    {
        SharesTestSetup::ForgetShares();
        for (int at = 0; at < folderCount; ++at)
            d.GetType(sharedFileFolder)->GetItem(Value(Folder(at)));
        delete shares;
        shares = new SharedFoldersManager;
    }

    void answersWhateverIsFilled_data()
    {
        QTest::addColumn<int>("filled");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("last");
        for (int filled : {0, folderCount / 2, folderCount})
            for (const char* change : {"none", "added", "removed", "twin"})
                for (bool last : {false, true})
                    QTest::addRow("%d filled, %s, %s folder", filled, change,
                                  last ? "last" : "first")
                        << filled << QString(change) << last;
    }

    // Mid fill the store's first folder is entered and its last is not; either way, and once the
    // fill ends, a look-up finds the file, and the exact spelling among twins in other cases.
    void answersWhateverIsFilled()
    {
        QFETCH(int, filled);
        QFETCH(QString, change);
        QFETCH(bool, last);
        QString path;
        for (ItemPtr folder : d.GetType(sharedFileFolder)->GetItems())
            if (path.isEmpty() || last)
                path = folder.AsString();
        ItemPtr first = MakeFile(path, "0 Track.ogg");
        MakeFile(path, "1 Track.ogg");
        if (filled > 0)
            shares->FillLookupStep(filled);
        QCOMPARE(shares->IsLookupFull(), filled == folderCount);

        if (change == "removed")
            first.Remove();
        const ItemPtr expected = change == "added"     ? MakeFile(path, "New.mp3")
                                 : change == "twin"    ? MakeFile(path.toLower(), "0 track.ogg")
                                 : change == "removed" ? ItemPtr()
                                                       : first;
        const QString asked = change == "twin"
                                  ? path.toLower() + "/0 track.ogg"
                                  : Peer(path + (change == "added" ? "/New.mp3" : "/0 Track.ogg"));
        QCOMPARE(shares->GetSharedFileItem(asked), expected);
        shares->FillLookupStep(folderCount);
        QCOMPARE(shares->GetSharedFileItem(asked), expected);
        QVERIFY(!Find(path + "/1 Track.ogg").IsNull());
    }

    // A walk larger than one merge slice: look-ups and a scanned MP3 between slices see what is
    // merged so far, and the walk is freed only once the lookup is full.
    void answersRightMidMerge()
    {
        const QString early = Folder(0), late = Folder(folderCount - 1);
        d.GetType(sharedFolder)->GetItem(Value("/Share"));
        FileScanner::RootFolders& walked = shares->Scanner().Results()["/Share"];
        for (int file = 0; file < 5000; ++file)
            walked[file < 4200 ? early : late].push_back(
                {QString("New %1.mp3").arg(file, 4, 10, QChar('0')), file});
        ItemPtr stale = MakeFile(late, "Zz Stale.ogg");

        QSignalSpy settled(shares, &SharedFoldersManager::StartupSettled);
        shares->OnFoldersRescanned();
        // Queued behind the merge's last slice and ahead of the fill's first.
        bool merged = false, full = true, walkKept = false;
        QMetaObject::invokeMethod(
            shares,
            [&] {
                merged = !Find(late + "/New 4999.mp3").IsNull();
                full = shares->IsLookupFull();
                walkKept = !shares->Scanner().Results().empty();
            },
            Qt::QueuedConnection);
        ItemPtr first = Find(early + "/New 0000.mp3");
        QVERIFY(!first.IsNull());
        QVERIFY(Find(late + "/New 4999.mp3").IsNull());
        QCOMPARE(Find(late + "/Zz Stale.ogg"), stale);
        shares->OnMP3Scanned(early + "/New 0000.mp3", 1, "joint stereo", 44100, false, 128);
        QCOMPARE(first[PeerTypes::bitrate].AsInt(), 128);

        QVERIFY(settled.wait(10000));
        QVERIFY(merged);
        QVERIFY(!full);
        QVERIFY(walkKept);
        QVERIFY(shares->IsLookupFull());
        QVERIFY(shares->Scanner().Results().empty());
        QCOMPARE(Find(early + "/New 0000.mp3"), first);
        QVERIFY(Find(late + "/Zz Stale.ogg").IsNull());
    }
};

QTEST_GUILESS_MAIN(LookupFillTest)
#include "tst_lookup_fill.moc"
