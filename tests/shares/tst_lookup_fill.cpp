#include <map>
#include <utility>
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
        {
            firstFiles[FolderPath(folder)] = MakeFile(FolderPath(folder), "0 Track.ogg");
            for (int file = 1; file < filesPerFolder; ++file)
                MakeFile(FolderPath(folder), QString("%1 Track.ogg").arg(file));
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
        const std::pair<const char*, int> states[] = {
            {"before fill", 0}, {"mid fill", half}, {"after fill", folderCount}};
        for (const auto& [state, filled] : states)
            for (const char* change : {"none", "added", "removed", "twin"})
                for (int position : {0, last})
                    QTest::addRow("%s, %s, %s folder to fill", state, change,
                                  position == 0 ? "first" : "last")
                        << filled << QString(change) << position;
    }

    // The lookup answers the same whether a folder's files were entered by the fill (in the
    // store's order: mid fill, the first folder is in and the last not), by a change or by the
    // look-up itself, and the fill's end changes no answer.
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

    // The merge of a large walk spans passes: a scanned MP3 reported between them, files met
    // in later slices and files the walk no longer finds are all looked up right.
    void answersRightMidMerge()
    {
        ItemPtr root = d.GetType(sharedFolder)->GetItem(Value("/Share"));
        const QString early = FolderPath(0), late = FolderPath(folderCount - 1);
        for (const QString& folder : {early, late})
            root.Connect(d.GetType(sharedFileFolder)->GetItem(Value(folder)));
        // More files than one slice merges, the stale one last of the late folder.
        FileScanner::RootFolders& walked = shares->Scanner().Results()["/Share"];
        for (int file = 0; file < 5000; ++file)
            walked[file < 4200 ? early : late].push_back(
                {QString("New %1.mp3").arg(file, 4, 10, QChar('0')), file});
        ItemPtr stale = MakeFile(late, "Zz Stale.ogg");

        QSignalSpy settled(shares, &SharedFoldersManager::StartupSettled);
        shares->OnFoldersRescanned();
        QVERIFY(settled.isEmpty());
        ItemPtr first = shares->GetSharedFileItem(Asked(early, "New 0000.mp3"));
        QVERIFY(!first.IsNull());
        QVERIFY(shares->GetSharedFileItem(Asked(late, "New 4999.mp3")).IsNull());
        QCOMPARE(shares->GetSharedFileItem(Asked(late, "Zz Stale.ogg")), stale);
        shares->OnMP3Scanned(early + "/New 0000.mp3", 1, "joint stereo", 44100, false, 128);
        QCOMPARE(first[PeerTypes::bitrate].AsInt(), 128);

        QVERIFY(settled.wait(10000));
        // The walk is freed once the lookup is full.
        QVERIFY(shares->IsLookupFull() && shares->Scanner().Results().empty());
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
