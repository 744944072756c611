#include <map>
#include <vector>

#include <QSignalSpy>
#include <QtTest>

#include "PeerTypes.h"
#include "SharesTestSetup.h"

using namespace SharesTypes;

namespace {
constexpr int folderCount = 40;
constexpr int filesPerFolder = 5;

ItemPtr MakeFile(const QString& folder, const QString& name)
{
    ItemPtr file = ItemPtr(d.GetType(sharedFileFolder)->GetItem(Value(folder))).NewItem(sharedFile);
    file.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
    return file;
}

QString FolderPath(int folder)
{
    return QString("/Share/Artist %1/Album").arg(folder);
}

// As a peer asks: other case, backslashes.
QString Asked(const QString& folder, const QString& name)
{
    return (folder + "/" + name).toUpper().replace('/', '\\');
}
} // namespace

class LookupFillTest : public SharesTestSetup::Fixture
{
    Q_OBJECT

private slots:
    void initTestCase() { Build(); }
    void cleanupTestCase() { Destroy(); }

    // A manager made over a store that holds the files, as after a load.
    void init()
    {
        SharesTestSetup::ForgetShares();
        firstFiles.clear();
        for (int folder = 0; folder < folderCount; ++folder)
            for (int file = 0; file < filesPerFolder; ++file)
            {
                ItemPtr made = MakeFile(FolderPath(folder), QString("%1 Track.ogg").arg(file));
                if (file == 0)
                    firstFiles[FolderPath(folder)] = made;
            }
        delete shares;
        shares = new SharedFoldersManager;
    }

    void answersWhateverIsFilled_data()
    {
        QTest::addColumn<int>("filled");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("position");
        constexpr int half = folderCount / 2, last = folderCount - 1;
        const struct
        {
            const char* state;
            int filled;
        } states[] = {{"before fill", 0}, {"mid fill", half}, {"after fill", folderCount}};
        for (const auto& state : states)
            for (const char* change : {"none", "added", "removed", "twin"})
                for (int position : {0, last})
                    QTest::addRow("%s, %s, %s folder to fill", state.state, change,
                                  position == 0 ? "first" : "last")
                        << state.filled << QString(change) << position;
    }

    // The fill takes the folders in the store's order: mid fill, the first is entered and the last
    // is not.
    // The lookup answers the same whether a folder's files were entered by the fill, by a change
    // or by the look-up itself, and the fill's end changes no answer.
    void answersWhateverIsFilled()
    {
        QFETCH(int, filled);
        QFETCH(QString, change);
        QFETCH(int, position);
        std::vector<QString> order;
        for (ItemPtr folder : d.GetType(sharedFileFolder)->GetItems())
            order.push_back(folder.AsString());
        for (int step = 0; step < filled; step += 4)
            shares->FillLookupStep(4);
        QCOMPARE(shares->IsLookupFull(), filled == folderCount);

        const QString path = order[size_t(position)];
        ItemPtr expected = firstFiles[path];
        QString name = "0 Track.ogg";
        if (change == "added")
        {
            name = "Found Mid Fill.mp3";
            expected = MakeFile(path, name);
        }
        else if (change == "removed")
        {
            expected.Remove();
            expected = ItemPtr();
        }
        else if (change == "twin")
        {
            // The same folder and name in another spelling: the exact one wins either way.
            MakeFile(path.toLower(), name.toLower());
            expected = MakeFile(path.toUpper(), name.toUpper());
        }
        const QString asked =
            change == "twin" ? path.toUpper() + "/" + name.toUpper() : Asked(path, name);
        QCOMPARE(shares->GetSharedFileItem(asked), expected);
        while (shares->FillLookupStep(7))
            ;
        QVERIFY(shares->IsLookupFull());
        QCOMPARE(shares->GetSharedFileItem(asked), expected);
        // A neighbour in the same folder is untouched by the change.
        const QString other = Asked(path, QString("%1 Track.ogg").arg(filesPerFolder - 1));
        QVERIFY(!shares->GetSharedFileItem(other).IsNull());
    }

    // The fill starts on the pass after the merge, and the walk is freed only after it.
    void settlesWhenTheMergedShareIsFilled()
    {
        ItemPtr root = d.GetType(sharedFolder)->GetItem(Value("/Share"));
        FileScanner::RootFolders& walked = shares->Scanner().Results()["/Share"];
        for (int folder = 0; folder < folderCount; ++folder)
        {
            root.Connect(d.GetType(sharedFileFolder)->GetItem(Value(FolderPath(folder))));
            for (int file = 0; file < filesPerFolder; ++file)
                walked[FolderPath(folder)].push_back({QString("%1 Track.ogg").arg(file), 1});
        }
        QSignalSpy settled(shares, &SharedFoldersManager::StartupSettled);
        shares->OnFoldersRescanned();
        QVERIFY(!shares->IsLookupFull());
        QVERIFY(!shares->Scanner().Results().empty());
        QVERIFY(settled.wait(10000));
        QVERIFY(shares->IsLookupFull());
        QVERIFY(shares->Scanner().Results().empty());
        for (int folder = 0; folder < folderCount; ++folder)
            QCOMPARE(shares->GetSharedFileItem(Asked(FolderPath(folder), "0 Track.ogg")),
                     firstFiles[FolderPath(folder)]);
    }

    // The merge of a large walk spans passes: a scanned MP3 reported between them, files met
    // in later slices and files the walk no longer finds are all looked up right.
    void answersRightMidMerge()
    {
        const QString root = "/Share";
        ItemPtr rootItem = d.GetType(sharedFolder)->GetItem(Value(root));
        const QString early = FolderPath(0), late = FolderPath(folderCount - 1);
        rootItem.Connect(d.GetType(sharedFileFolder)->GetItem(Value(early)));
        rootItem.Connect(d.GetType(sharedFileFolder)->GetItem(Value(late)));
        // More files than one slice merges, the stale one last of the late folder.
        FileScanner::RootFolders& walked = shares->Scanner().Results()[root];
        for (int file = 0; file < 5000; ++file)
            walked[file < 4200 ? early : late].push_back(
                {QString("New %1.mp3").arg(file, 4, 10, QChar('0')), file});
        ItemPtr stale = MakeFile(late, "Zz Stale.ogg");

        QSignalSpy settled(shares, &SharedFoldersManager::StartupSettled);
        shares->OnFoldersRescanned();
        QVERIFY(settled.isEmpty());
        const QString firstPath = early + "/New 0000.mp3";
        ItemPtr first = shares->GetSharedFileItem(Asked(early, "New 0000.mp3"));
        QVERIFY(!first.IsNull());
        QVERIFY(shares->GetSharedFileItem(Asked(late, "New 4999.mp3")).IsNull());
        QCOMPARE(shares->GetSharedFileItem(Asked(late, "Zz Stale.ogg")), stale);
        shares->OnMP3Scanned(firstPath, 1, "joint stereo", 44100, false, 128);
        QCOMPARE(first[PeerTypes::bitrate].AsInt(), 128);

        QVERIFY(settled.wait(10000));
        QCOMPARE(shares->GetSharedFileItem(Asked(early, "New 0000.mp3")), first);
        QVERIFY(!shares->GetSharedFileItem(Asked(late, "New 4999.mp3")).IsNull());
        QVERIFY(shares->GetSharedFileItem(Asked(late, "Zz Stale.ogg")).IsNull());
        QVERIFY(shares->GetSharedFileItem(Asked(late, "0 Track.ogg")).IsNull());
        // A folder of no root the walk covered goes with its files.
        QVERIFY(shares->GetSharedFileItem(Asked(FolderPath(1), "0 Track.ogg")).IsNull());
    }

private:
    std::map<QString, ItemPtr> firstFiles;
};

QTEST_GUILESS_MAIN(LookupFillTest)
#include "tst_lookup_fill.moc"
