#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "Log.h"
#include "Settings.h"
#include "SharesTestSetup.h"

using namespace SharesTypes;

class StartupMergeTest : public SharesTestSetup::Fixture
{
    Q_OBJECT

private slots:
    void initTestCase() { Build(); }
    void cleanupTestCase() { Destroy(); }

    void mergesALargeWalkOverSeveralPassesToTheSameEnd()
    {
        QTemporaryDir root;
        constexpr int folders = 30, perFolder = 300;
        for (int folder = 0; folder < folders; ++folder)
            for (int file = 0; file < perFolder; ++file)
                QVERIFY(SharesTestSetup::WriteFile(
                    QString("%1/f%2/track %3.ogg").arg(root.path()).arg(folder).arg(file), "x"));
        // A file the walk no longer finds goes in the merge.
        ItemPtr rootItem = d.GetType(sharedFolder)->GetItem(Value(root.path()));
        ItemPtr gone = d.GetType(sharedFileFolder)->GetItem(Value(root.path() + "/gone"));
        rootItem.Connect(gone);
        gone.NewItem(sharedFile).Connect(d.GetType(sharedFileName)->GetItem(Value("old.ogg")));

        int slices = 0;
        bool merged = false;
        Settings::Set(LogSettings::showDiagnostics, "yes");
        SetLogSink([&](const QString& area, int, const QString& text, ItemPtr) {
            slices += area == "Profiling" && text.startsWith("Merged a slice");
            merged = merged || text == "OnFoldersRescanned end";
        });
        shares->Init();
        QTRY_VERIFY_WITH_TIMEOUT(merged, 30000);
        SetLogSink({});
        QVERIFY(slices >= 3);
        const QStringList files = SharesTestSetup::SharedFiles();
        QCOMPARE(files.size(), folders * perFolder);
        QVERIFY(d.GetType(sharedFileFolder)->HasItem(Value(root.path() + "/gone")) == nullptr);

        // A walk of the disk now finds nothing to change.
        QSignalSpy rescanned(shares, &SharedFoldersManager::SharedFilesRescanned);
        shares->RescanShares();
        QCOMPARE(rescanned.value(0), (QVariantList{0, 0}));
        QCOMPARE(SharesTestSetup::SharedFiles(), files);
    }
};

QTEST_GUILESS_MAIN(StartupMergeTest)
#include "tst_startup_merge.moc"
