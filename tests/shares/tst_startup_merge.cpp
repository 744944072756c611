#include <random>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "Log.h"
#include "SearchResultBody.h"
#include "Settings.h"
#include "ShareListBody.h"
#include "SharesTestSetup.h"

using namespace SharesTypes;

namespace {
// Names that sort apart with and without case, differ only in case, and hold letters past ASCII:
// the orders that the walk and the merge must keep.
const QStringList generatedWords{"Alpha",
                                 "beta",
                                 "Gamma",
                                 "delta",
                                 QString::fromUtf8("Écho"),
                                 "zulu",
                                 "Zulu",
                                 "x-ray",
                                 "mix_Case",
                                 QString::fromUtf8("ünder"),
                                 "a.b.c",
                                 QString::fromUtf8("日本")};

// The same folders and files on every run and every machine.
bool MakeGeneratedShare(const QString& root)
{
    static const char* extensions[] = {"ogg", "FLAC", "jpg", "txt"};
    std::mt19937 random(11);
    const auto word = [&random] { return generatedWords[int(random() % generatedWords.size())]; };
    for (int folder = 0; folder < 24; ++folder)
    {
        QString path = root + "/" + generatedWords[folder % generatedWords.size()];
        if (folder >= generatedWords.size())
            path += QString("/Sub %1").arg(folder);
        for (int file = 0; file < 15; ++file)
        {
            const QString name = word() + " " + word() + "." + extensions[random() % 4];
            if (!SharesTestSetup::WriteFile(path + "/" + name,
                                            QByteArray(int(random() % 3000), 'x')))
                return false;
        }
    }
    return true;
}

// The bytes with the temporary root's listed name in them made one fixed name, hashed.
QByteArray Digest(const Persistent& body)
{
    MemStream bytes;
    body.Write(bytes);
    return QCryptographicHash::hash(QByteArray(bytes.GetWrittenData(), bytes.GetWrittenLength()),
                                    QCryptographicHash::Sha256)
        .toHex()
        .left(16);
}

std::string WithFixedRoot(const std::string& listed, const std::string& root)
{
    return listed.compare(0, root.size(), root) == 0 ? "ROOT" + listed.substr(root.size()) : listed;
}
} // namespace

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

    // Digests of what peers get from a generated share after the start-up walk: the share list
    // and search answers, byte for byte, computed with the walk as it was before it kept less per
    // file.
    void keepsShareListAndAnswersBytes_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("share list") << QString() << QByteArray("cbc5f533ab8913d5");
        QTest::newRow("one word") << "zulu" << QByteArray("54bf49ba43f89312");
        QTest::newRow("word past ascii")
            << QString::fromUtf8("écho") << QByteArray("c51edad37653be17");
        QTest::newRow("word and exclusion") << "alpha -gamma" << QByteArray("06d64404adc940df");
        QTest::newRow("an extension") << "ogg" << QByteArray("19d05df631757a45");
    }

    void keepsShareListAndAnswersBytes()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, digest);
        if (!generated)
        {
            SharesTestSetup::ForgetShares();
            generated.reset(new QTemporaryDir);
            QVERIFY(MakeGeneratedShare(generated->path()));
            ItemPtr(d.GetType(sharedFolder)->GetItem(Value(generated->path())))
                .NewItem(sharedPublic);
            int fileCount = 0;
            for (QDirIterator disk(generated->path(), QDir::Files, QDirIterator::Subdirectories);
                 disk.hasNext(); disk.next())
                ++fileCount;
            shares->Init();
            QTRY_COMPARE_WITH_TIMEOUT(int(d.GetType(sharedFile)->ItemCount()), fileCount, 30000);
        }
        const std::string root = generated->path().replace('/', '\\').toStdString();
        if (query.isEmpty())
        {
            ShareListBody list;
            FileInfoMap folders;
            shares->GetSharedFilesAsUserShare("asker", folders, list.attributeNames);
            for (auto& [folder, files] : folders)
                list.folders[WithFixedRoot(folder, root)] = files;
            QCOMPARE(Digest(list), digest);
            return;
        }
        MemStream bytes;
        QVERIFY(shares->BuildSearchAnswer("asker", 7, query, bytes));
        SearchResultBody answer;
        QVERIFY(answer.Read(bytes));
        for (FileInfo& file : answer.results)
            file.name = WithFixedRoot(file.name, root);
        QCOMPARE(Digest(answer), digest);
    }

private:
    std::unique_ptr<QTemporaryDir> generated;
};

QTEST_GUILESS_MAIN(StartupMergeTest)
#include "tst_startup_merge.moc"
