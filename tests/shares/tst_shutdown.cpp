#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include "SharesTestSetup.h"

class SharesShutdownTest : public QObject
{
    Q_OBJECT

private slots:
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
        Server* server = nullptr;
        PeerMessenger* messenger = nullptr;
        SharedFoldersManager* shares = SharesTestSetup::Build(server, messenger);
        d.GetType(SharesTypes::sharedFolder)->GetItem(Value(root.path()));
        shares->Init();
        QTRY_VERIFY(shares->Scanner().ListedFolderCount() > 0);
        QElapsedTimer clock;
        clock.start();
        delete shares;
        QVERIFY(clock.elapsed() < 1000);
        QCoreApplication::processEvents();
        QCOMPARE(int(d.GetType(SharesTypes::sharedFile)->ItemCount()), 0);
        delete messenger;
        delete server;
    }
};

QTEST_GUILESS_MAIN(SharesShutdownTest)
#include "tst_shutdown.moc"
