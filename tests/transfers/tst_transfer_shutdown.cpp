#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QtTest>

#include "TransferThread.h"
#include "TransfersTestSetup.h"

using namespace TransferTypes;

// The program quits while a download and an upload are running. Its own process: the manager
// is made and deleted once, as in the program.
class TransferShutdownTest : public QObject
{
    Q_OBJECT

private slots:
    void quittingEndsRunningTransfersAtOnce()
    {
        TransfersTestSetup setup;
        setup.Build();
        TransferQueueManager* manager = setup.manager;
        Settings::Set(TransferSettings::downloadFolder, Value(setup.Downloads()));

        const QByteArray content = TransfersTestSetup::Pattern(100000);
        ItemPtr download =
            manager->AddDownload("ned", "slow.mp3", "music\\album", content.size(), false, 1);
        download.Connect(d.GetType(remoteTransferReq)->GetItem(Value(700)));
        const QString partial =
            TransferQueueManager::LocalPath(manager->GetDownloadTargetPath(download, false));
        auto sender = setup.OpenFileLink("ned", 700);
        QVERIFY(sender->WaitForBytes(8));
        // Three whole chunks and part of a fourth, then silence.
        sender->SendRaw(content.left(3 * 8192 + 100));
        QTRY_COMPARE(QFileInfo(partial).size(), qint64(3 * 8192));

        const QString path = setup.home.path() + "/shared/paced.mp3";
        QDir().mkpath(QFileInfo(path).path());
        QFile shared(path);
        QVERIFY(shared.open(QIODevice::WriteOnly));
        shared.write(content);
        shared.close();
        Settings::Set(TransferSettings::uploadSpeedLimit, "1");
        manager->EnableUploadSpeedLimit(true);
        FakePeer receiver;
        ItemPtr upload = setup.UploadToPeer(receiver, "ola", path, 701);
        TransfersTestSetup::AwaitUploadLink(receiver, 701);
        receiver.SendRaw(TransfersTestSetup::LittleEndian(0, 8));
        // At 1 KiB/s the second chunk is eight seconds away.
        QTRY_COMPARE(TransfersTestSetup::AfterFirstFrame(receiver.rawBytes).size(), 4 + 8192);

        QPointer<TransferThread> downloading = download[downloadThread].AsPointer<TransferThread>();
        QPointer<TransferThread> uploading = upload[uploadThread].AsPointer<TransferThread>();
        QVERIFY(downloading && uploading);
        QVERIFY(downloading->isRunning() && uploading->isRunning());

        // Each thread sees the request within one wait step, not after its 30 s wait for data
        // or its 8 s wait for the next chunk.
        QElapsedTimer clock;
        clock.start();
        delete manager;
        setup.manager = nullptr;
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!transferQueueManager);
        QVERIFY(!downloading && !uploading);
        // The cells the progress was counted in are freed, not left to the store.
        for (const char* cell : {writePosition, lastReceiptTime, lastSpeedMeasurementTime,
                                 bytesPerSecond, bytesSinceLastReceipt})
        {
            QVERIFY2(download[cell].IsNull(), cell);
            QVERIFY2(upload[cell].IsNull(), cell);
        }
        QVERIFY(upload[readPosition].IsNull());
        QVERIFY(sender->WaitForClose());
        QVERIFY(receiver.WaitForClose());
        // What the threads reported on their way out was meant for the deleted manager.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(QFileInfo(partial).size(), qint64(3 * 8192));
        QFile kept(partial);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content.left(3 * 8192));
        QCOMPARE(TransfersTestSetup::AfterFirstFrame(receiver.rawBytes).mid(4), content.left(8192));

        TransfersTestSetup::ForgetMessages();
        setup.Destroy();
    }
};

QTEST_MAIN(TransferShutdownTest)
#include "tst_transfer_shutdown.moc"
