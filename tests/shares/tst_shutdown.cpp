#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include "PeerTypes.h"
#include "SharesTestSetup.h"

class SharesShutdownTest : public QObject
{
    Q_OBJECT

    // Made once: the store takes each type's declaration once per process. Each test makes and
    // deletes its own shares manager.
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;

private slots:
    void initTestCase() { MessengerTestSetup::Build(server, messenger); }

    void cleanupTestCase()
    {
        delete messenger;
        delete server;
    }

    void stopsWalkOfManyFilesPromptly()
    {
        // 100,000 empty files in 1,000 folders; made with plain system calls to stay quick.
        QTemporaryDir root;
        for (int folder = 0; folder < 1000; ++folder)
        {
            const QByteArray path = QFile::encodeName(root.path() + QString("/f%1").arg(folder));
            QVERIFY(::mkdir(path.constData(), 0700) == 0);
            for (int file = 0; file < 100; ++file)
            {
                const int handle = ::open((path + "/" + QByteArray::number(file)).constData(),
                                          O_CREAT | O_WRONLY, 0600);
                QVERIFY(handle >= 0);
                ::close(handle);
            }
        }
        auto* shares = new SharedFoldersManager;
        d.GetType(SharesTypes::sharedFolder)->GetItem(Value(root.path()));
        shares->Init();
        QTRY_VERIFY(shares->Scanner().ListedFolderCount() > 0);
        QElapsedTimer clock;
        clock.start();
        delete shares;
        QVERIFY(clock.elapsed() < 1000);
        QCoreApplication::processEvents();
        QCOMPARE(int(d.GetType(SharesTypes::sharedFile)->ItemCount()), 0);
    }

    // The manager goes while a large answer is still being compressed: the answer is dropped.
    void dropsAnAnswerStillCompressing()
    {
        using namespace SharesTypes;
        auto* shares = new SharedFoldersManager;
        ItemPtr root = d.GetType(sharedFolder)->GetItem(Value("/shared"));
        root.NewItem(sharedPublic);
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value("/shared/plenty"));
        root.Connect(folder);
        for (int at = 0; at < 2000; ++at)
        {
            ItemPtr file = folder.NewItem(sharedFile);
            file.Connect(
                d.GetType(sharedFileName)
                    ->GetItem(Value(QString("plenty %1 %2.ogg").arg(at).arg(QString(200, 'x')))));
            file.Connect(d.GetType(sharedFileSize)->GetItem(Value(at)));
            shares->TokenizeSharedFile(file);
        }
        MemStream built;
        QVERIFY(shares->BuildSearchAnswer("carol", 8, "plenty", built));
        QVERIFY(built.GetWrittenLength() >= SharedFoldersManager::compressOnWorkerFrom);
        QVERIFY(shares->ProcessSearch("carol", 8, "plenty"));
        delete shares;
        QCoreApplication::sendPostedEvents();
        QCOMPARE(int(d.GetType(PeerTypes::unsentMessage)->ItemCount()), 0);
    }
};

QTEST_GUILESS_MAIN(SharesShutdownTest)
#include "tst_shutdown.moc"
