#include <ctime>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "FakePeer.h"
#include "Log.h"
#include "PeerMessageCode.h"
#include "SharesTypes.h"
#include "TransferThread.h"
#include "TransfersTestSetup.h"

using namespace TransferTypes;

namespace {
QString Status(ItemPtr entry)
{
    return entry[downloadEntryStatus].IsNull() ? entry[uploadEntryStatus].AsString()
                                               : entry[downloadEntryStatus].AsString();
}

QByteArray Pattern(int size)
{
    return TransfersTestSetup::Pattern(size);
}

QByteArray LittleEndian(quint64 value, int width)
{
    return TransfersTestSetup::LittleEndian(value, width);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray AfterFirstFrame(const QByteArray& received)
{
    return TransfersTestSetup::AfterFirstFrame(received);
}

// Spinning() tells the CPU time of the whole process since the watch was made, the transfer
// threads' and the test's own, once it reaches a quarter of the wall time.
struct CpuWatch
{
    const std::clock_t cpuStart = std::clock();
    QElapsedTimer wall;
    CpuWatch() { wall.start(); }
    QString Spinning() const
    {
        const qint64 cpuMs = qint64(std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC;
        const qint64 wallMs = qMax<qint64>(wall.elapsed(), 100);
        return cpuMs * 4 < wallMs ? QString()
                                  : QString("%1 ms of CPU in %2 ms").arg(cpuMs).arg(wallMs);
    }
};
} // namespace

class FileTransfersTest : public QObject
{
    Q_OBJECT

private:
    TransfersTestSetup setup;
    QStringList logLines;
    uint nextRequest = 500;

    TransferQueueManager* Manager() { return setup.manager; }

    QString PartialPath(ItemPtr entry)
    {
        return TransferQueueManager::LocalPath(Manager()->GetDownloadTargetPath(entry, false));
    }
    QString CompletePath(ItemPtr entry)
    {
        return TransferQueueManager::LocalPath(Manager()->GetDownloadTargetPath(entry, true));
    }

    // A download in the state the negotiation leaves it: queued, with the peer's request number.
    ItemPtr NegotiatedDownload(const QString& user, const std::string& name, qint64 size,
                               uint request)
    {
        ItemPtr entry = Manager()->AddDownload(user, name, "music\\album", size, false, 1);
        entry.Connect(d.GetType(remoteTransferReq)->GetItem(Value(request)));
        return entry;
    }

    std::unique_ptr<FakePeer> OpenFileLink(const QString& user, uint request,
                                           bool obfuscated = false)
    {
        return setup.OpenFileLink(user, request, obfuscated);
    }

    ItemPtr UploadToPeer(FakePeer& peer, const QString& user, const QString& path, uint request)
    {
        return setup.UploadToPeer(peer, user, path, request);
    }

    void AwaitUploadLink(FakePeer& peer, uint request)
    {
        TransfersTestSetup::AwaitUploadLink(peer, request);
    }

    bool Logged(const QString& text) const
    {
        for (const QString& line : logLines)
            if (line.contains(text))
                return true;
        return false;
    }

    void RemoveEntries()
    {
        for (ItemPtr entry : g(downloadEntry))
            Manager()->RemoveDownload(entry);
        for (ItemPtr entry : g(uploadEntry))
            Manager()->RemoveUpload(entry);
    }

    // An upload of a 16 MiB file to a peer that reads with a plain socket, whose link to it is
    // returned; the peer's failure notice, later, finds no one to take it.
    QTcpSocket* UploadToPlainSocket(QTcpServer& listener, const QString& user, ItemPtr& entry)
    {
        const QString path = setup.home.path() + "/shared/" + user + ".mp3";
        WriteFile(path, Pattern(16 * 1024 * 1024));
        if (!listener.listen(QHostAddress::LocalHost))
            return nullptr;
        MessengerTestSetup::SetUserAddress(user, listener.serverPort());
        entry = setup.ConnectingUpload(user, path, nextRequest);
        setup.messenger->RequestFileConnectionToUser(user);
        if (!listener.waitForNewConnection(5000))
            return nullptr;
        MessengerTestSetup::SetUserAddress(user, MessengerTestSetup::UnusedPort());
        return listener.nextPendingConnection();
    }

private slots:
    void initTestCase()
    {
        setup.Build();
        Settings::Set(TransferSettings::downloadFolder, Value(setup.Downloads()));
        Settings::Set(LogSettings::showDiagnostics, "yes");
        SetLogSink([this](const QString& area, int, const QString& text, ItemPtr) {
            if (area == "Transfer Queue")
                logLines.append(text);
        });
    }

    void cleanupTestCase()
    {
        RemoveEntries();
        SetLogSink({});
        setup.Destroy();
    }

    void init()
    {
        RemoveEntries();
        g(completeDownload).Remove();
        TransfersTestSetup::ForgetMessages();
        QDir(setup.Downloads()).removeRecursively();
        Settings::Set(TransferSettings::dontSplitDownloads, "no");
        Manager()->EnableUploadSpeedLimit(false);
        TransferThread::SetWaitStepMsForTesting(1000);
        logLines.clear();
        ++nextRequest;
    }

    void downloadsFromTheOffsetOfThePartialFile_data()
    {
        QTest::addColumn<int>("partial");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("obfuscated");
        QTest::addColumn<QByteArray>("offset");
        QTest::newRow("new file") << 0 << 50000 << false << QByteArray("0000000000000000");
        QTest::newRow("resumed") << 10000 << 50000 << false << QByteArray("1027000000000000");
        QTest::newRow("obfuscated link, raw bytes")
            << 10000 << 50000 << true << QByteArray("1027000000000000");
        QTest::newRow("whole chunks only")
            << 0 << 4 * 8192 << false << QByteArray("0000000000000000");
        // More than the thread takes in one step, from an offset that is no chunk boundary.
        QTest::newRow("several steps")
            << 10000 << 3 * 512 * 1024 + 777 << false << QByteArray("1027000000000000");
    }

    void downloadsFromTheOffsetOfThePartialFile()
    {
        QFETCH(int, partial);
        QFETCH(int, size);
        QFETCH(bool, obfuscated);
        QFETCH(QByteArray, offset);
        const QByteArray content = Pattern(size);
        ItemPtr entry = NegotiatedDownload("ann", "song.mp3", size, nextRequest);
        if (partial > 0)
            WriteFile(PartialPath(entry), content.left(partial));
        QSignalSpy added(Manager(), &TransferQueueManager::CompleteDownloadAdded);
        QSignalSpy progressed(Manager(), &TransferQueueManager::DownloadProgressed);

        auto peer = OpenFileLink("ann", nextRequest, obfuscated);
        QVERIFY(peer->WaitForBytes(8));
        QCOMPARE(peer->rawBytes.toHex(), offset);
        QTRY_COMPARE(Status(entry), QString(TransferStatus::downloading));
        peer->SendRaw(content.mid(partial));

        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(ReadAll(CompletePath(entry)), content);
        QVERIFY(!QFile::exists(PartialPath(entry)));
        QCOMPARE(added.count(), 1);
        QCOMPARE(g(completeDownload).Size(), 1u);
        ItemPtr record = added.at(0).at(0).value<ItemPtr>();
        QCOMPARE(record[completeDownloadFileSize].AsInt(), size);
        QCOMPARE(record[ServerTypes::user].AsString(), QString("ann"));
        QVERIFY(progressed.count() >= 1);
        QVERIFY(entry[downloadThread].IsNull());
        QVERIFY(entry[downloadSocket].IsNull());
        // The progress cells are freed with the transfer, not kept until the program ends.
        for (const char* cell : {writePosition, lastReceiptTime, lastSpeedMeasurementTime,
                                 bytesPerSecond, bytesSinceLastReceipt})
            QVERIFY2(entry[cell].IsNull(), cell);
        QVERIFY(peer->WaitForClose());
    }

    void keepsOnlyTheFileSizeFromAPeerThatSendsMore_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("one step") << 20000;
        QTest::newRow("several steps") << 2 * 512 * 1024 + 3;
    }

    void keepsOnlyTheFileSizeFromAPeerThatSendsMore()
    {
        QFETCH(int, size);
        const QByteArray content = Pattern(size);
        ItemPtr entry = NegotiatedDownload("bob", "long.mp3", size, nextRequest);
        auto peer = OpenFileLink("bob", nextRequest);
        QVERIFY(peer->WaitForBytes(8));
        peer->SendRaw(content + QByteArray(5000, 'x'));
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(ReadAll(CompletePath(entry)), content);
    }

    void keepsBytesThatCameWithTheRequestNumber()
    {
        const QByteArray content = Pattern(12000);
        ItemPtr entry = NegotiatedDownload("ben", "eager.mp3", 12000, nextRequest);
        FakePeer peer;
        peer.SetRawMode(true);
        peer.Dial(setup.messenger->ListeningPort());
        // An uploader that does not wait for the offset: all of it in one write.
        peer.SendRaw(peer.Frame(FakePeer::InitBody("ben", "F")) + LittleEndian(nextRequest, 4) +
                     content);
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(ReadAll(CompletePath(entry)), content);
        QCOMPARE(peer.rawBytes, LittleEndian(0, 8));
    }

    void lostLinkKeepsWholeChunksAndResumes_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("kept");
        QTest::newRow("two chunks and part of a third") << 50000 << 20000 << 2 * 8192;
        QTest::newRow("more than one step") << 2000000 << 1200003 << 146 * 8192;
    }

    void lostLinkKeepsWholeChunksAndResumes()
    {
        QFETCH(int, size);
        QFETCH(int, sent);
        QFETCH(int, kept);
        const QByteArray content = Pattern(size);
        ItemPtr entry = NegotiatedDownload("cat", "cut.mp3", size, nextRequest);
        {
            auto peer = OpenFileLink("cat", nextRequest);
            QVERIFY(peer->WaitForBytes(8));
            peer->SendRaw(content.left(sent));
            peer->Close();
        }
        QTRY_COMPARE(Status(entry), QString(TransferStatus::aborted));
        QVERIFY(Logged("Error downloading cut.mp3 from cat. Waiting for data to read failed."));
        QCOMPARE(ReadAll(PartialPath(entry)), content.left(kept));

        // The next link for the same entry starts where the whole chunks end.
        auto again = OpenFileLink("cat", nextRequest);
        QVERIFY(again->WaitForBytes(8));
        QCOMPARE(again->rawBytes, LittleEndian(quint64(kept), 8));
        again->SendRaw(content.mid(kept));
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(ReadAll(CompletePath(entry)), content);
    }

    void endsAStalledDownload()
    {
        TransferThread::SetWaitStepMsForTesting(10);
        ItemPtr entry = NegotiatedDownload("dan", "stall.mp3", 30000, nextRequest);
        auto peer = OpenFileLink("dan", nextRequest);
        QVERIFY(peer->WaitForBytes(8));
        peer->SendRaw(Pattern(100));
        // Thirty silent steps of 10 ms end it; the link stays open all along.
        QTRY_COMPARE_WITH_TIMEOUT(Status(entry), QString(TransferStatus::aborted), 5000);
        QVERIFY(Logged("Waiting for data to read failed."));
        QCOMPARE(ReadAll(PartialPath(entry)).size(), 0);
    }

    void refusesAFileLinkThatMatchesNoDownload_data()
    {
        QTest::addColumn<QString>("linkUser");
        QTest::addColumn<int>("requestShift");
        QTest::newRow("unknown number") << "eve" << 1000;
        QTest::newRow("another user's number") << "fay" << 0;
    }

    void refusesAFileLinkThatMatchesNoDownload()
    {
        QFETCH(QString, linkUser);
        QFETCH(int, requestShift);
        ItemPtr entry = NegotiatedDownload("eve", "mine.mp3", 1000, nextRequest);
        auto peer = OpenFileLink(linkUser, nextRequest + requestShift);
        QVERIFY(peer->WaitForClose());
        QCOMPARE(peer->rawBytes.size(), 0);
        QVERIFY(Logged("Download not found, aborting"));
        QCOMPARE(Status(entry), QString(TransferStatus::queued));
    }

    void refusesASecondLinkForARunningDownload()
    {
        const QByteArray content = Pattern(40000);
        ItemPtr entry = NegotiatedDownload("gus", "twice.mp3", 40000, nextRequest);
        auto first = OpenFileLink("gus", nextRequest);
        QVERIFY(first->WaitForBytes(8));
        first->SendRaw(content.left(10000));
        QTRY_COMPARE(Status(entry), QString(TransferStatus::downloading));

        auto second = OpenFileLink("gus", nextRequest);
        QVERIFY(second->WaitForClose());
        QCOMPARE(second->rawBytes.size(), 0);
        QVERIFY(Logged("refusing second file connection"));

        first->SendRaw(content.mid(10000));
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(ReadAll(CompletePath(entry)), content);

        auto late = OpenFileLink("gus", nextRequest);
        QVERIFY(late->WaitForClose());
        QCOMPARE(g(completeDownload).Size(), 1u);
    }

    void settlesWithoutAThreadWhenNothingIsLeft_data()
    {
        QTest::addColumn<int>("partial");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("status");
        QTest::newRow("empty file") << 0 << 0 << QString(TransferStatus::complete);
        QTest::newRow("partial already whole") << 3000 << 3000 << QString(TransferStatus::complete);
        QTest::newRow("partial larger") << 3001 << 3000 << QString(TransferStatus::localError);
        QTest::newRow("negative size") << 0 << -5 << QString(TransferStatus::aborted);
    }

    void settlesWithoutAThreadWhenNothingIsLeft()
    {
        QFETCH(int, partial);
        QFETCH(int, size);
        QFETCH(QString, status);
        ItemPtr entry = NegotiatedDownload("hal", "done.mp3", size, nextRequest);
        if (partial > 0)
            WriteFile(PartialPath(entry), Pattern(partial));
        auto peer = OpenFileLink("hal", nextRequest);
        QVERIFY(peer->WaitForClose());
        QTRY_COMPARE(Status(entry), status);
        QVERIFY(entry[downloadThread].IsNull());
        const bool complete = status == TransferStatus::complete;
        QCOMPARE(QFile::exists(CompletePath(entry)), complete);
        QCOMPARE(ReadAll(CompletePath(entry)).size(), complete ? partial : 0);
        QCOMPARE(g(completeDownload).Size(), complete ? 1u : 0u);
    }

    void finishedFileBesideAnotherOfItsNameTakesANumberedName()
    {
        const QByteArray content = Pattern(5000);
        ItemPtr entry = NegotiatedDownload("ida", "clash.mp3", 5000, nextRequest);
        const QString wanted = CompletePath(entry);
        // A file of the same name reached the complete folder meanwhile.
        WriteFile(wanted, "older");
        QSignalSpy added(Manager(), &TransferQueueManager::CompleteDownloadAdded);
        auto peer = OpenFileLink("ida", nextRequest);
        QVERIFY(peer->WaitForBytes(8));
        peer->SendRaw(content);
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(ReadAll(wanted), QByteArray("older"));
        QCOMPARE(CompletePath(entry), QFileInfo(wanted).path() + "/clash (2).mp3");
        QCOMPARE(ReadAll(CompletePath(entry)), content);
        QCOMPARE(added.count(), 1);
        QCOMPARE(added.at(0).at(0).value<ItemPtr>()[completeDownloadFilename].AsString(),
                 QString("clash (2).mp3"));
    }

    void unsplitDownloadStaysWhereItWasWritten()
    {
        Settings::Set(TransferSettings::dontSplitDownloads, "yes");
        const QByteArray content = Pattern(9000);
        ItemPtr entry = NegotiatedDownload("jon", "flat.mp3", 9000, nextRequest);
        QSignalSpy added(Manager(), &TransferQueueManager::CompleteDownloadAdded);
        auto peer = OpenFileLink("jon", nextRequest);
        QVERIFY(peer->WaitForBytes(8));
        peer->SendRaw(content);
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QCOMPARE(PartialPath(entry), CompletePath(entry));
        QCOMPARE(ReadAll(CompletePath(entry)), content);
        QCOMPARE(added.count(), 1);
    }

    void uploadsFromTheOffsetThePeerAsks_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<qint64>("offset");
        QTest::newRow("whole file") << 30000 << qint64(0);
        QTest::newRow("resumed") << 30000 << qint64(1000);
        QTest::newRow("last byte") << 30000 << qint64(29999);
        QTest::newRow("several steps, resumed") << 3 * 512 * 1024 + 5 << qint64(12345);
        QTest::newRow("at the end") << 30000 << qint64(30000);
        QTest::newRow("shrank after the scan") << 4000 << qint64(0);
    }

    void uploadsFromTheOffsetThePeerAsks()
    {
        QFETCH(int, size);
        QFETCH(qint64, offset);
        const QByteArray content = Pattern(size);
        const QString path = setup.home.path() + "/shared/up.mp3";
        WriteFile(path, content);
        QSignalSpy progressed(Manager(), &TransferQueueManager::UploadProgressed);
        FakePeer peer;
        ItemPtr entry = UploadToPeer(peer, "kim", path, nextRequest);
        // The last scan saw another length: the file grew since, or in the last row shrank.
        entry[SharesTypes::sharedFile].Connect(
            d.GetType(SharesTypes::sharedFileSize)->GetItem(Value(20000)));
        AwaitUploadLink(peer, nextRequest);
        QTRY_COMPARE(Status(entry), QString(TransferStatus::uploading));

        // The offset in two pieces: they are put together in order.
        const QByteArray offsetBytes = LittleEndian(quint64(offset), 8);
        peer.SendRaw(offsetBytes.left(3));
        peer.SendRaw(offsetBytes.mid(3));
        const int expected = size - int(offset);
        QTRY_COMPARE(AfterFirstFrame(peer.rawBytes).size(), 4 + expected);
        QCOMPARE(AfterFirstFrame(peer.rawBytes).mid(4), content.mid(int(offset)));
        QTRY_VERIFY(progressed.count() >= 1);
        peer.Close();
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
        QVERIFY(Logged("Recording upload speed of"));
        QVERIFY(entry[uploadThread].IsNull());
        QVERIFY(entry[uploadFile].IsNull());
        for (const char* cell :
             {lastReceiptTime, lastSpeedMeasurementTime, bytesPerSecond, bytesSinceLastReceipt})
            QVERIFY2(entry[cell].IsNull(), cell);
    }

    // A fast limit moves several chunks per step; each of them must still be paid for.
    void fastLimitHoldsWhenAStepMovesSeveralChunks()
    {
        const int limitKiB = 4000;
        const int size = 2 * 1024 * 1024;
        const QByteArray content = Pattern(size);
        const QString path = setup.home.path() + "/shared/fast.mp3";
        WriteFile(path, content);
        Settings::Set(TransferSettings::uploadSpeedLimit, Value(limitKiB));
        Manager()->EnableUploadSpeedLimit(true);
        FakePeer peer;
        ItemPtr entry = UploadToPeer(peer, "pia", path, nextRequest);
        AwaitUploadLink(peer, nextRequest);

        QElapsedTimer clock;
        clock.start();
        peer.SendRaw(LittleEndian(0, 8));
        QTRY_COMPARE_WITH_TIMEOUT(AfterFirstFrame(peer.rawBytes).size(), 4 + size, 20000);
        const qint64 elapsedMs = clock.elapsed();
        QCOMPARE(AfterFirstFrame(peer.rawBytes).mid(4), content);
        // The first step goes out before any pacing: at most 20 ms of the limit's bytes.
        const qint64 pacedBytes = size - qint64(limitKiB) * 1024 * 20 / 1000;
        const qint64 leastMs = pacedBytes * 1000 / (qint64(limitKiB) * 1024);
        QVERIFY2(elapsedMs >= leastMs, qPrintable(QString("%1 ms").arg(elapsedMs)));
        peer.Close();
        QTRY_COMPARE(Status(entry), QString(TransferStatus::complete));
    }

    void endsAnUploadThePeerStopsReading_data()
    {
        QTest::addColumn<int>("junk");
        QTest::newRow("silent peer") << 0;
        // What it sends fills our capped read buffer while we wait to write.
        QTest::newRow("peer sending junk") << 8 * 1024 * 1024;
    }

    void endsAnUploadThePeerStopsReading()
    {
        QFETCH(int, junk);
        TransferThread::SetWaitStepMsForTesting(10);
        QTcpServer listener;
        ItemPtr entry;
        QTcpSocket* link = UploadToPlainSocket(listener, "ria", entry);
        QVERIFY(link);
        // The peer asks for the file, then takes no more than a few bytes of it.
        link->setReadBufferSize(16);
        link->write(LittleEndian(0, 8) + QByteArray(junk, 'j'));
        link->flush();
        const CpuWatch cpu;
        QTRY_COMPARE_WITH_TIMEOUT(Status(entry), QString(TransferStatus::aborted), 10000);
        QVERIFY(Logged("Waiting for bytes to be written to socket failed."));
        QCOMPARE(cpu.Spinning(), QString());
    }

    // The peer agreed to the size announced when the file was shared; no other length is sent.
    void refusesAnOffsetOutsideTheFile_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<int>("sizeNow");
        QTest::addColumn<QString>("reason");
        const QString seek = "Won't seek to offset %1 in file of size 4000";
        QTest::newRow("beyond the end") << qint64(4001) << 4000 << seek.arg(4001);
        QTest::newRow("negative") << qint64(-1) << 4000 << seek.arg(-1);
        const QString changed = "The file is %1 bytes long, not the 4000 bytes announced";
        QTest::newRow("file grew since shared") << qint64(0) << 5000 << changed.arg(5000);
        QTest::newRow("file shrank since shared") << qint64(0) << 3000 << changed.arg(3000);
    }

    void refusesAnOffsetOutsideTheFile()
    {
        QFETCH(qint64, offset);
        QFETCH(int, sizeNow);
        QFETCH(QString, reason);
        const QString path = setup.home.path() + "/shared/small.mp3";
        WriteFile(path, Pattern(4000));
        FakePeer fileLink;
        ItemPtr entry = UploadToPeer(fileLink, "lea", path, nextRequest);
        WriteFile(path, Pattern(sizeNow));
        AwaitUploadLink(fileLink, nextRequest);

        // The failure notice goes over a message link, which is dialled afresh.
        FakePeer messages;
        MessengerTestSetup::SetUserAddress("lea", messages.Listen());
        fileLink.SendRaw(LittleEndian(quint64(offset), 8));
        QTRY_COMPARE(Status(entry), QString(TransferStatus::aborted));
        QCOMPARE(AfterFirstFrame(fileLink.rawBytes).size(), 4);
        QVERIFY(Logged(QString("Error uploading %1 to lea. %2").arg(path, reason)));
        QVERIFY(messages.WaitForFrames(2));
        QCOMPARE(messages.frames.at(1).left(4), LittleEndian(PeerMessageCode::PM_UPLOAD_FAILED, 4));
    }

    // After the last byte the upload reads and drops what else the peer sends until it closes:
    // neither more than the read cap nor a peer that holds its end makes that wait spin, and
    // removing the upload meanwhile ends it at once.
    void lastWaitEndsWithoutSpinning_data()
    {
        QTest::addColumn<int>("junk");
        QTest::addColumn<QString>("peer");
        for (int junk : {65, 4096})
            for (const char* peer : {"closes", "holds", "removed"})
                QTest::addRow("%d bytes after the file, %s", junk, peer) << junk << QString(peer);
    }

    void lastWaitEndsWithoutSpinning()
    {
        QFETCH(int, junk);
        QFETCH(QString, peer);
        // A short step keeps the holding rows short; removal is measured against a whole one.
        const int stepMs = peer == "removed" ? 1000 : 20;
        TransferThread::SetWaitStepMsForTesting(stepMs);
        const QString path = setup.home.path() + "/shared/held.mp3";
        WriteFile(path, Pattern(3000));
        FakePeer receiver;
        ItemPtr entry = UploadToPeer(receiver, "vic", path, nextRequest);
        AwaitUploadLink(receiver, nextRequest);
        MessengerTestSetup::SetUserAddress("vic", MessengerTestSetup::UnusedPort());
        receiver.SendRaw(LittleEndian(0, 8));
        QTRY_COMPARE(AfterFirstFrame(receiver.rawBytes).size(), 4 + 3000);
        receiver.SendRaw(QByteArray(junk, 'j'));

        const CpuWatch cpu;
        if (peer == "removed")
        {
            QCOMPARE(Status(entry), QString(TransferStatus::uploading));
            Manager()->RemoveUpload(entry);
            QVERIFY2(cpu.wall.elapsed() < stepMs, qPrintable(QString::number(cpu.wall.elapsed())));
            QVERIFY(receiver.WaitForClose());
            return;
        }
        const bool closes = peer == "closes";
        if (closes)
            receiver.Close();
        QTRY_COMPARE_WITH_TIMEOUT(
            Status(entry), QString(closes ? TransferStatus::complete : TransferStatus::aborted),
            5000);
        // Thirty steps for a peer that holds its end, less what passed before the last byte.
        QVERIFY(closes || cpu.wall.elapsed() >= 25 * stepMs);
        QVERIFY(closes || Logged("The peer did not close the connection after the last byte."));
        QCOMPARE(cpu.Spinning(), QString());
    }

    // A program the user opens while a transfer runs must not hold its link open.
    void childProcessInheritsNoTransferSocket()
    {
        ItemPtr download = NegotiatedDownload("wes", "slow.mp3", 30000, nextRequest);
        auto sender = OpenFileLink("wes", nextRequest);
        QVERIFY(sender->WaitForBytes(8));
        QTRY_COMPARE(Status(download), QString(TransferStatus::downloading));

        QProcess child;
        child.start("/bin/sh", {"-c", "ls -l /proc/self/fd"});
        QVERIFY(child.waitForFinished(10000));
        const QStringList handles =
            QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        // Its standard handles are listed, so an empty listing cannot pass.
        QVERIFY2(handles.filter(" 0 -> ").size() == 1, qPrintable(handles.join('\n')));
        QCOMPARE(handles.filter("socket:").join('\n'), QString());
    }

    void dropsAFileLinkNoUploadWaitsFor()
    {
        FakePeer peer;
        peer.SetRawMode(true);
        MessengerTestSetup::SetUserAddress("max", peer.Listen());
        setup.messenger->RequestFileConnectionToUser("max");
        QVERIFY(peer.WaitForClient());
        QVERIFY(peer.WaitForClose());
        QCOMPARE(AfterFirstFrame(peer.rawBytes).size(), 0);
    }

    // A downloader that sends more than its offset must not fill our memory: what it sends
    // waits in the system's buffers, so it cannot hand over much more than they hold.
    void uploadReadsLittleOfWhatTheDownloaderSends()
    {
        QTcpServer listener;
        ItemPtr entry;
        QTcpSocket* link = UploadToPlainSocket(listener, "sid", entry);
        QVERIFY(link);
        link->setReadBufferSize(16);
        link->write(LittleEndian(0, 8));
        QTRY_COMPARE(Status(entry), QString(TransferStatus::uploading));

        const QByteArray junk(1024 * 1024, 'j');
        qint64 offered = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000 && offered < 256 * 1024 * 1024)
        {
            if (link->bytesToWrite() < junk.size())
                offered += link->write(junk);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        const qint64 handedOver = offered - link->bytesToWrite();
        QVERIFY2(handedOver < 48 * 1024 * 1024, qPrintable(QString::number(handedOver)));
        QCOMPARE(Status(entry), QString(TransferStatus::uploading));
    }

    // Each thread is woken by its exit request, so removing many stalled transfers holds the
    // window for no wait step per transfer.
    void removingManyStalledDownloadsReturnsAtOnce()
    {
        std::vector<std::unique_ptr<FakePeer>> peers;
        std::vector<ItemPtr> entries;
        for (int index = 0; index < 40; ++index)
        {
            const std::string name = "stalled " + std::to_string(index) + ".mp3";
            entries.push_back(NegotiatedDownload("tom", name, 100000, ++nextRequest));
            peers.push_back(OpenFileLink("tom", nextRequest));
            QVERIFY(peers.back()->WaitForBytes(8));
        }
        for (ItemPtr entry : entries)
            QTRY_COMPARE(Status(entry), QString(TransferStatus::downloading));
        // Data that comes at staggered times puts each thread's wait steps out of step with
        // the others', as real transfers are: a thread asked in turn then costs a step each.
        for (auto& peer : peers)
        {
            peer->SendRaw(Pattern(9000));
            QTest::qWait(25);
        }
        QElapsedTimer clock;
        clock.start();
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
            Manager()->RemoveDownload(*entry);
        QVERIFY2(clock.elapsed() < TransferThread::WaitStepMs(),
                 qPrintable(QString::number(clock.elapsed())));
        for (auto& peer : peers)
            QVERIFY(peer->WaitForClose());
        // Whole chunks that came stay in each partial file.
        QCOMPARE(QFileInfo(setup.Downloads() + "/downloading/music/album/stalled 7.mp3").size(),
                 qint64(8192));
    }

    // A status change that ends a running transfer must not wait for the transfer to end.
    void statusChangeStopsARunningTransferAtOnce()
    {
        ItemPtr download = NegotiatedDownload("ned", "slow.mp3", 30000, nextRequest);
        auto peer = OpenFileLink("ned", nextRequest);
        QVERIFY(peer->WaitForBytes(8));
        QTRY_COMPARE(Status(download), QString(TransferStatus::downloading));

        const QString path = setup.home.path() + "/shared/paced.mp3";
        WriteFile(path, Pattern(100000));
        Settings::Set(TransferSettings::uploadSpeedLimit, "1");
        Manager()->EnableUploadSpeedLimit(true);
        FakePeer receiver;
        ItemPtr upload = UploadToPeer(receiver, "ola", path, ++nextRequest);
        AwaitUploadLink(receiver, nextRequest);
        receiver.SendRaw(LittleEndian(0, 8));
        // At 1 KiB/s the second chunk is eight seconds away.
        QTRY_COMPARE(AfterFirstFrame(receiver.rawBytes).size(), 4 + 8192);

        // The failure notice for the upload finds no one to take it.
        MessengerTestSetup::SetUserAddress("ola", MessengerTestSetup::UnusedPort());
        // Each thread sees the request within one wait step; without it the download would wait
        // 30 s for data and the upload 8 s for its next chunk.
        QElapsedTimer clock;
        clock.start();
        Manager()->SetDownloadEntryStatus(download, TransferStatus::aborted);
        Manager()->SetUploadEntryStatus(upload, TransferStatus::aborted);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(download[downloadThread].IsNull());
        QVERIFY(upload[uploadThread].IsNull());
        QVERIFY(peer->WaitForClose());
        QVERIFY(receiver.WaitForClose());
    }
};

QTEST_MAIN(FileTransfersTest)
#include "tst_file_transfers.moc"
