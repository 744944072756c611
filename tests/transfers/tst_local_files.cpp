#include <QSignalSpy>
#include <QtTest>

#include "DownloadPath.h"
#include "FakePeer.h"
#include "TransfersTestSetup.h"

using namespace TransferTypes;

// Where finished and partial files land: each download writes a file of its own, completion
// checks that the file is its own, and later settings do not move what was recorded.
class LocalFilesTest : public QObject
{
    Q_OBJECT

private:
    TransfersTestSetup setup;
    uint nextRequest = 100;
    const int defaultBound = DownloadPath::NumberedNameBound();

    TransferQueueManager* Manager() { return setup.manager; }

    static QString Status(ItemPtr entry) { return entry[downloadEntryStatus].AsString(); }

    QString Finished(ItemPtr entry)
    {
        return TransferQueueManager::LocalPath(Manager()->GetDownloadTargetPath(entry, true));
    }

    static QByteArray ReadAll(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }

    // A download the peer has offered and we accepted, numbered for its file link.
    ItemPtr Accepted(const char* folder, const QByteArray& content, std::string name = "01.mp3")
    {
        ItemPtr entry = Manager()->AddDownload("ann", name, folder, content.size(), true, 0);
        entry.Connect(d.GetType(remoteTransferReq)->GetItem(Value(++nextRequest)));
        return entry;
    }

    // Opens the file link for the entry and sends it bytes from the offset it asks for.
    std::unique_ptr<FakePeer> Send(ItemPtr entry, const QByteArray& content, int upTo = -1)
    {
        auto peer = setup.OpenFileLink("ann", entry[remoteTransferReq].AsUInt());
        if (!peer->WaitForBytes(8))
            return peer;
        qint64 offset = 0;
        std::memcpy(&offset, peer->rawBytes.constData(), 8);
        peer->SendRaw(content.mid(int(offset), upTo < 0 ? -1 : upTo - int(offset)));
        return peer;
    }

    void Complete(ItemPtr entry, const QByteArray& content)
    {
        auto peer = Send(entry, content);
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(ReadAll(Finished(entry)), content);
    }

    static void Write(const QString& path, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }

private slots:
    void initTestCase()
    {
        setup.Build();
        TransfersTestSetup::User("ann", false);
    }

    void cleanupTestCase()
    {
        for (ItemPtr entry : g(downloadEntry))
            Manager()->RemoveDownload(entry);
        setup.Destroy();
    }

    void init()
    {
        for (ItemPtr entry : g(downloadEntry))
            Manager()->RemoveDownload(entry);
        g(completeDownload).Remove();
        DownloadPath::SetNumberedNameBoundForTests(defaultBound);
        QDir(setup.Downloads()).removeRecursively();
        Settings::Set(TransferSettings::downloadFolder, Value(setup.Downloads()));
        Settings::Set(TransferSettings::dontSplitDownloads, "no");
        Settings::Set(TransferSettings::dontCreateSubfoldersForSingleDownloads, "no");
    }

    // a\CD1\01.mp3 and b\CD1\01.mp3 would share downloading/CD1/01.mp3.
    void twoDownloadsOfOneNameKeepTheirOwnBytes_data()
    {
        QTest::addColumn<QString>("order");
        QTest::addColumn<bool>("unsplit");
        QTest::newRow("at once") << "together" << false;
        QTest::newRow("one after the other") << "first, then second" << false;
        QTest::newRow("second while the first is partial") << "half, second, rest" << false;
        QTest::newRow("at once, no downloading folder") << "together" << true;
        QTest::newRow("partial, no downloading folder") << "half, second, rest" << true;
    }

    void twoDownloadsOfOneNameKeepTheirOwnBytes()
    {
        QFETCH(QString, order);
        QFETCH(bool, unsplit);
        Settings::Set(TransferSettings::dontSplitDownloads, unsplit ? "yes" : "no");
        const QByteArray first = TransfersTestSetup::Pattern(200000);
        const QByteArray second = QByteArray(150848, 'b');
        ItemPtr a = Accepted("a\\CD1", first);
        ItemPtr b = Accepted("b\\CD1", second);
        if (order == "together")
        {
            auto linkA = Send(a, first);
            auto linkB = Send(b, second);
            QTRY_COMPARE(Status(a), QString(TransferStatus::complete));
            QTRY_COMPARE(Status(b), QString(TransferStatus::complete));
        }
        else if (order == "first, then second")
        {
            Complete(a, first);
            Complete(b, second);
        }
        else
        {
            auto half = Send(a, first, 8192 * 5);
            QTRY_COMPARE(Status(a), QString(TransferStatus::downloading));
            const QString partial =
                TransferQueueManager::LocalPath(Manager()->GetDownloadTargetPath(a, false));
            QTRY_COMPARE(QFileInfo(partial).size(), qint64(8192 * 5));
            half->Close();
            QTRY_COMPARE(Status(a), QString(TransferStatus::aborted));
            Complete(b, second);
            Complete(a, first);
        }
        QCOMPARE(ReadAll(Finished(a)), first);
        QCOMPARE(ReadAll(Finished(b)), second);
        QVERIFY(Finished(a) != Finished(b));
        QCOMPARE(g(completeDownload).Size(), 2u);
        // The paths go with their entries.
        Manager()->RemoveDownload(a);
        Manager()->RemoveDownload(b);
        QVERIFY(g(downloadLocalPath).Empty());
    }

    // Folders of one name from distinct places, or from two users, stay apart; the files of one
    // folder download share its folder.
    void folderDownloadsKeepDistinctFoldersApart_data()
    {
        QTest::addColumn<QStringList>("queued");
        QTest::addColumn<QStringList>("local");
        QTest::newRow("deep subfolders of one chosen folder")
            << QStringList{"ann|x\\a\\c\\Music|3", "ann|x\\b\\c\\Music|3", "ann|x|0"}
            << QStringList{"x/a/c/Music", "x/b/c/Music", "x"};
        QTest::newRow("two folders of one name")
            << QStringList{"ann|p\\Music|0", "ann|q\\Music|0", "ann|p\\Music|0", "ann|r\\v.1|0",
                           "ann|s\\v.1|0"}
            << QStringList{"Music", "Music (2)", "Music", "v.1", "v.1 (2)"};
        QTest::newRow("one folder from two users")
            << QStringList{"ann|p\\Music|0", "bob|p\\Music|0", "cy|q\\Music|1"}
            << QStringList{"Music", "Music (2)", "q/Music"};
    }

    void folderDownloadsKeepDistinctFoldersApart()
    {
        QFETCH(QStringList, queued);
        QFETCH(QStringList, local);
        for (int index = 0; index < queued.size(); ++index)
        {
            const QStringList fields = queued.at(index).split('|');
            const std::string name = QString("%1.mp3").arg(index).toStdString();
            ItemPtr entry = Manager()->AddDownload(fields[0], name, fields[1].toStdString(), 1,
                                                   false, fields[2].toInt());
            QCOMPARE(Manager()->GetDownloadRelativeDownloadFolder(entry).replace('\\', '/'),
                     local.at(index));
            QCOMPARE(QFileInfo(Finished(entry)).path(),
                     setup.Downloads() + "/complete/" + local.at(index));
        }
    }

    void failedMoveStaysALocalErrorUntilRetried()
    {
        const QByteArray content = TransfersTestSetup::Pattern(5000);
        ItemPtr entry = Accepted("music\\Album", content);
        // A file where the complete folder should be: no folder can be made there.
        QDir().mkpath(setup.Downloads());
        QFile blocker(setup.Downloads() + "/complete");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        auto peer = Send(entry, content);
        QTRY_COMPARE(Status(entry), QString(TransferStatus::localError));

        TransfersTestSetup::User("ann", true);
        Manager()->EveryHalfMinuteAt(QDateTime::currentDateTime().addSecs(3600));
        QCOMPARE(Status(entry), QString(TransferStatus::localError));
        QCOMPARE(ReadAll(TransferQueueManager::LocalPath(
                     Manager()->GetDownloadTargetPath(entry, false))),
                 content);
        TransfersTestSetup::User("ann", false);

        QVERIFY(QFile::remove(setup.Downloads() + "/complete"));
        Manager()->RequeueDownload(entry);
        QCOMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(ReadAll(Finished(entry)), content);
        QCOMPARE(g(completeDownload).Size(), 1u);
    }

    // Without the downloading folder the partial file is where the finished one goes: a Retry
    // must not take it for the finished file.
    void unsplitRetryKeepsAPartial_data()
    {
        QTest::addColumn<int>("received");
        QTest::addColumn<int>("kept");
        QTest::newRow("a chunk and some of 20000 bytes") << 8192 + 400 << 8192;
        QTest::newRow("link lost before the first byte") << 0 << 0;
    }

    void unsplitRetryKeepsAPartial()
    {
        QFETCH(int, received);
        QFETCH(int, kept);
        Settings::Set(TransferSettings::dontSplitDownloads, "yes");
        const QByteArray content(20000, 'z');
        ItemPtr entry = Accepted("music\\Album", content);
        auto peer = Send(entry, content, received);
        QTRY_COMPARE(Status(entry), QString(TransferStatus::downloading));
        const QString partial =
            TransferQueueManager::LocalPath(Manager()->GetDownloadTargetPath(entry, false));
        QTRY_COMPARE(QFileInfo(partial).size(), qint64(kept));
        peer->Close();
        QTRY_COMPARE(Status(entry), QString(TransferStatus::aborted));
        Manager()->RequeueDownload(entry);
        QCOMPARE(Status(entry), QString(TransferStatus::queued));
        QCOMPARE(QFileInfo(partial).size(), qint64(kept));
    }

    void settingChangedMidDownloadLeavesTheFileWhereTheRecordSays_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("betweenLinks");
        QTest::newRow("downloading folder dropped") << TransferSettings::dontSplitDownloads << "no"
                                                    << "yes" << false;
        QTest::newRow("downloading folder taken up")
            << TransferSettings::dontSplitDownloads << "yes"
            << "no" << false;
        QTest::newRow("download folder moved") << TransferSettings::downloadFolder << ""
                                               << "elsewhere" << false;
        QTest::newRow("download folder moved between two links")
            << TransferSettings::downloadFolder << ""
            << "elsewhere" << true;
        QTest::newRow("single downloads flattened")
            << TransferSettings::dontCreateSubfoldersForSingleDownloads << "no"
            << "yes" << false;
    }

    void settingChangedMidDownloadLeavesTheFileWhereTheRecordSays()
    {
        QFETCH(QString, key);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(bool, betweenLinks);
        const QByteArray setKey = key.toUtf8();
        auto valueOf = [&](const QString& word) {
            return key == TransferSettings::downloadFolder
                       ? Value(setup.Downloads() + (word.isEmpty() ? "" : "/" + word))
                       : Value(word);
        };
        Settings::Set(setKey.constData(), valueOf(before));
        const QByteArray content = TransfersTestSetup::Pattern(50000);
        ItemPtr entry = Accepted("music\\Album", content);
        auto peer = Send(entry, content, 8192);
        QTRY_COMPARE(Status(entry), QString(TransferStatus::downloading));
        if (betweenLinks)
        {
            // The partial file, in the old folder, is resumed.
            QTRY_COMPARE(QFileInfo(TransferQueueManager::LocalPath(
                                       Manager()->GetDownloadTargetPath(entry, false)))
                             .size(),
                         qint64(8192));
            peer->Close();
            QTRY_COMPARE(Status(entry), QString(TransferStatus::aborted));
            Settings::Set(setKey.constData(), valueOf(after));
            peer = Send(entry, content);
            QVERIFY(peer->WaitForBytes(8));
            QCOMPARE(peer->rawBytes.left(8), TransfersTestSetup::LittleEndian(8192, 8));
        }
        else
        {
            Settings::Set(setKey.constData(), valueOf(after));
            peer->SendRaw(content.mid(8192));
        }
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(ReadAll(Finished(entry)), content);
        ItemPtr record = g(completeDownload);
        const QString recorded =
            TransferQueueManager::LocalPath(record[completeDownloadFolder].AsString() + "\\" +
                                            record[completeDownloadFilename].AsString());
        QCOMPARE(recorded, Finished(entry));
    }

    // Even with no file there: a move takes another name, and a retry writes only its own file.
    void aKeptPathIsNeverAnotherEntrysFile_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<bool>("unsplit");
        QTest::newRow("finished file in place") << true << false;
        QTest::newRow("finished file replaced") << false << false;
        QTest::newRow("replaced, no downloading folder") << false << true;
    }

    void aKeptPathIsNeverAnotherEntrysFile()
    {
        QFETCH(bool, inPlace);
        QFETCH(bool, unsplit);
        Settings::Set(TransferSettings::dontSplitDownloads, unsplit ? "yes" : "no");
        const QByteArray first = TransfersTestSetup::Pattern(30000), second(20000, 'b');
        ItemPtr a = Accepted("a\\CD1", first);
        ItemPtr b = Accepted("b\\CD1", second);
        // The user's file takes the plain name at once, or later the path the user emptied.
        QString own = Finished(a);
        if (inPlace)
            Write(own, "own");
        Complete(a, first);
        const QString kept = a[downloadLocalPath].AsString();
        QVERIFY(inPlace || QFile::remove(kept));
        Complete(b, second);
        QVERIFY(Finished(b) != kept);
        if (!inPlace)
            Write(own = kept, "own");
        Manager()->OnUploadDeniedNotification("ann", "a\\CD1\\01.mp3", "File not shared.");
        QCOMPARE(Status(a), QString(TransferStatus::denied));
        Manager()->RequeueDownload(a);
        if (inPlace)
            QCOMPARE(Status(a), QString(TransferStatus::complete));
        else
            Complete(a, first);
        QCOMPARE(ReadAll(Finished(a)), first);
        QCOMPARE(ReadAll(Finished(b)), second);
        QCOMPARE(ReadAll(own), QByteArray("own"));
    }

    // Numbered within 255 bytes, cut on a whole character; no free name is a local error.
    void clashingNamesFitOrFail_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("taken");
        QTest::addColumn<bool>("unsplit");
        QTest::addColumn<QString>("expected");
        for (int size : {251, 252, 253, 254, 255})
            QTest::addRow("%d bytes", size)
                << QString(size - 4, 'x') + ".mp3" << 1 << false << QString(247, 'x') + " (2).mp3";
        QTest::newRow("255 bytes of two-byte characters, no downloading folder")
            << QString(125, QChar(0xe9)) + "x.mp3" << 2 << true
            << QString(123, QChar(0xe9)) + " (3).mp3";
        for (bool unsplit : {false, true})
            QTest::addRow("every numbered name taken%s", unsplit ? ", no downloading folder" : "")
                << "01.mp3" << 3 << unsplit << QString();
    }

    void clashingNamesFitOrFail()
    {
        QFETCH(QString, name);
        QFETCH(int, taken);
        QFETCH(bool, unsplit);
        QFETCH(QString, expected);
        Settings::Set(TransferSettings::dontSplitDownloads, unsplit ? "yes" : "no");
        DownloadPath::SetNumberedNameBoundForTests(3);
        const QByteArray content = TransfersTestSetup::Pattern(10000);
        const QString folder = setup.Downloads() + (unsplit ? "/CD1/" : "/complete/CD1/");
        for (int number = 1; number <= taken; ++number)
            Write(DownloadPath::Numbered(folder + name, number), "taken");
        ItemPtr entry = Accepted("a\\CD1", content, name.toStdString());
        auto peer = Send(entry, content);
        QTRY_COMPARE(Status(entry), QString(expected.isEmpty() ? TransferStatus::localError
                                                               : TransferStatus::complete));
        QCOMPARE(ReadAll(folder + name), QByteArray("taken"));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), taken + (expected.isEmpty() ? 0 : 1));
        if (!expected.isEmpty())
            QCOMPARE(ReadAll(folder + expected), content);
    }

    // Any other path is chosen afresh, and the file at the saved one left alone.
    void savedPathIsUsedOnlyForTheEntrysOwnFile_data()
    {
        QTest::addColumn<QString>("kept");
        QTest::addColumn<bool>("used");
        QTest::newRow("outside the download folders") << "notes/01.mp3" << false;
        QTest::newRow("out through ..") << "downloads/complete/../../notes/01.mp3" << false;
        QTest::newRow("complete folder, another name") << "downloads/complete/CD1/2.mp3" << false;
        QTest::newRow("its own numbered name") << "downloads/downloading/CD1/01 (2).mp3" << true;
        QTest::newRow("its own name, download folder") << "downloads/01.mp3" << true;
    }

    void savedPathIsUsedOnlyForTheEntrysOwnFile()
    {
        QFETCH(QString, kept);
        QFETCH(bool, used);
        const QByteArray content = TransfersTestSetup::Pattern(30000);
        const QString path = setup.home.path() + "/" + kept;
        Write(path, content.left(8192));
        Accepted("a\\CD1", content).Connect(d.GetType(downloadLocalPath)->GetItem(Value(path)));
        setup.SaveAndLoad();
        ItemPtr entry = Manager()->GetDownloadEntry("ann", "01.mp3", "a\\CD1");
        entry.Connect(d.GetType(remoteTransferReq)->GetItem(Value(++nextRequest)));
        Complete(entry, content);
        // Resumed and moved, or left alone.
        QCOMPARE(ReadAll(path), used ? QByteArray("(missing)") : content.left(8192));
    }
};

QTEST_MAIN(LocalFilesTest)
#include "tst_local_files.moc"
