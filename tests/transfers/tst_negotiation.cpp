#include <memory>

#include <QFile>
#include <QtTest>

#include "FakePeer.h"
#include "GeneralFunctions.h"
#include "PeerMessageCode.h"
#include "SharesTypes.h"
#include "TransfersTestSetup.h"

using namespace TransferTypes;
using Bytes = std::string;

namespace {
QByteArray Accepted(quint32 request)
{
    return FakePeer::Body(41, request, true);
}

QByteArray Refused(quint32 request, const QString& reason)
{
    return FakePeer::Body(41, request, false, reason);
}

QString Status(ItemPtr entry)
{
    return entry[downloadEntryStatus].AsString();
}

QString UploadStatus(ItemPtr entry)
{
    return entry[uploadEntryStatus].AsString();
}

ItemPtr UserItem(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}

QDateTime Time(ItemPtr item)
{
    return QDateTime::fromString(item.AsString(), Qt::TextDate);
}
} // namespace

// Both halves of a transfer's negotiation, seen by "bob", another client on a loopback link.
class NegotiationTest : public QObject
{
    Q_OBJECT

private:
    TransfersTestSetup setup;
    std::unique_ptr<FakePeer> bob;
    ItemPtr bobItem;
    QString sharedFolder;

    TransferQueueManager* Manager() { return setup.manager; }

    // How bob names one of our shared files: the absolute path with backslashes.
    QString PeerName(const QString& file) const
    {
        return QString(sharedFolder + "/" + file).replace('/', '\\');
    }

    void Share(const QString& name, bool onDisk)
    {
        using namespace SharesTypes;
        ItemPtr root = d.GetType(SharesTypes::sharedFolder)->GetItem(Value(sharedFolder));
        if (!root.IsConnected(sharedPublic))
            root.NewItem(sharedPublic);
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value(sharedFolder));
        root.Connect(folder);
        ItemPtr file = folder.NewItem(sharedFile);
        file.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
        file.Connect(d.GetType(sharedFileSize)->GetItem(Value(5)));
        QFile data(sharedFolder + "/" + name);
        if (onDisk && data.open(QIODevice::WriteOnly))
            data.write("12345");
    }

    ItemPtr Download(const QString& user, const char* name, const QString& status = "queued")
    {
        ItemPtr entry = Manager()->AddDownload(user, name, "x", 100, false, 0);
        if (status != Status(entry))
            Manager()->SetDownloadEntryStatus(entry, status);
        return entry;
    }

    ItemPtr Upload(const QString& user, const QString& name)
    {
        return UserItem(user)
            .GetItems(uploadEntry)
            .Connected(filenameAsRequested, Value(PeerName(name)));
    }

    // The frames bob received up to the answer to a request that is always answered, without
    // that answer: what bob was sent before is then known to be complete.
    QList<QByteArray> Received()
    {
        const int before = bob->frames.size();
        bob->Send(40, qint32(1), quint32(999), Bytes("probe\\done.bin"), qint64(1));
        if (!QTest::qWaitFor(
                [&] {
                    return bob->frames.size() > before &&
                           bob->frames.last() == Refused(999, "Complete");
                },
                5000))
            return {"probe unanswered"};
        QList<QByteArray> frames = bob->frames.mid(0, bob->frames.size() - 1);
        bob->frames.clear();
        return frames;
    }

private slots:
    void initTestCase()
    {
        setup.Build();
        Manager()->DataLoaded();
        sharedFolder = setup.home.path() + "/shared";
        QDir().mkpath(sharedFolder);
        Share("song.mp3", true);
        Share("other.mp3", true);
        Share("gone.mp3", false);
        bob = std::make_unique<FakePeer>();
        bob->Dial(peerMessenger->ListeningPort());
        QTRY_VERIFY(bob->IsConnected());
        bob->SendFrame(FakePeer::InitBody("bob", "P"));
        bobItem = UserItem("bob");
        QTRY_VERIFY(bobItem.IsConnected(PeerTypes::peerSocket));
    }

    void cleanupTestCase()
    {
        bob.reset();
        setup.Destroy();
    }

    void init()
    {
        for (ItemPtr entry : g(downloadEntry))
            Manager()->RemoveDownload(entry);
        for (ItemPtr entry : g(uploadEntry))
            Manager()->RemoveUpload(entry);
        g(ServerTypes::inUserList).Remove();
        g(ServerTypes::userListGroup).Remove();
        for (ItemPtr user : g(ServerTypes::user))
            for (const char* mark :
                 {ServerTypes::isOnline, SharesTypes::unshared, lastQueueRequestTime,
                  nextPlaceInLineRequestTime, emptyShareCheckStatus, sentEmptyShareWarningMessage})
                user.Disconnect(mark);
        Settings::Set("download_folder", setup.Downloads());
        Settings::Set("upload_slots", "1");
        Settings::Set("max_queued_uploads_per_user", "200");
        Settings::Set("accept_userlist_uploads", "no");
        Settings::Set("check_for_empty_shares", "no");
        Settings::Set("finish_uploads_and_quit", "no", Settings::runtime);
        Manager()->SetDownloadEntryStatus(
            Manager()->AddDownload("bob", "done.bin", "probe", 1, false, 0), "complete");
        Received();
        TransfersTestSetup::ForgetMessages();
    }

    void comingOnlineRequeuesInQueueOrder()
    {
        ItemPtr late = Download("bob", "1.bin");
        Download("bob", "2.bin", "denied");
        ItemPtr early = Download("bob", "3.bin");
        ItemPtr failed = Download("bob", "4.bin", "local error");
        late.Connect(d.GetType(downloadOrder)->GetItem(Value(900)));
        failed.Connect(d.GetType(downloadOrder)->GetItem(Value(850)));
        early.Connect(d.GetType(downloadOrder)->GetItem(Value(800)));
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        TransfersTestSetup::User("bob", true);
        // Complete and denied entries stay as they are; a local error is tried again.
        QCOMPARE(Received(), (QList<QByteArray>{FakePeer::Body(43, Bytes("x\\3.bin")),
                                                FakePeer::Body(43, Bytes("x\\4.bin")),
                                                FakePeer::Body(43, Bytes("x\\1.bin"))}));
        QVERIFY(Time(bobItem[lastQueueRequestTime]) >= before);
        QCOMPARE(Time(bobItem[nextPlaceInLineRequestTime]),
                 Time(bobItem[lastQueueRequestTime]).addSecs(30));

        // A user with no downloads gets no times.
        ItemPtr zed = TransfersTestSetup::User("zed", true);
        QVERIFY(!zed.IsConnected(lastQueueRequestTime));
        QVERIFY(!zed.IsConnected(nextPlaceInLineRequestTime));
    }

    void answersTransferRequests_data()
    {
        QTest::addColumn<QString>("existing"); // empty: no entry
        QTest::addColumn<QString>("pusher");   // how bob may push files to us
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("statusAfter"); // empty: no entry
        const QByteArray yes = Accepted(7);
        const QByteArray cancelled = Refused(7, "Cancelled");
        auto row = [](const char* name, const char* existing, const char* pusher, const char* file,
                      qint64 size, const QByteArray& answer, const char* status) {
            QTest::newRow(name) << QString(existing) << QString(pusher) << QString(file) << size
                                << answer << QString(status);
        };
        row("queued", "queued", "", "x\\a.bin", 100, yes, "queued");
        row("complete", "complete", "", "x\\a.bin", 100, Refused(7, "Complete"), "complete");
        row("denied stays denied", "denied", "", "x\\a.bin", 100, yes, "denied");
        row("downloading is aborted", "downloading", "", "x\\a.bin", 100, yes, "aborted");
        row("unknown file", "", "", "x\\a.bin", 100, cancelled, "");
        row("pushed by a listed user", "", "userlist", "x\\a.bin", 100, yes, "queued");
        row("pushed by a group that accepts", "", "group", "x\\a.bin", 100, yes, "queued");
        row("listed user without the setting", "", "listed", "x\\a.bin", 100, cancelled, "");
        row("pushed name climbing out", "", "userlist", "..\\..\\a.bin", 100, yes, "queued");
        row("pushed with a negative size", "", "userlist", "x\\a.bin", -1, cancelled, "");
    }

    void answersTransferRequests()
    {
        QFETCH(QString, existing);
        QFETCH(QString, pusher);
        QFETCH(QString, file);
        QFETCH(qint64, size);
        QFETCH(QByteArray, answer);
        QFETCH(QString, statusAfter);
        if (!existing.isEmpty())
            Download("bob", "a.bin", existing);
        if (!pusher.isEmpty())
        {
            ItemPtr listed = bobItem.NewItem(ServerTypes::inUserList);
            Settings::Set("accept_userlist_uploads", pusher == "userlist" ? "yes" : "no");
            if (pusher == "group")
                listed.Connect(d.GetType(ServerTypes::userListGroup)->GetItem(Value("friends")))
                    .NewItem(ServerTypes::acceptUploads);
        }
        const long long counter = Settings::Get("transfer_order_counter").AsInt64();
        bob->Send(40, qint32(1), quint32(7), file.toStdString(), size);
        QCOMPARE(Received(), QList<QByteArray>{answer});
        ItemPtr entry = Manager()->GetDownloadEntry("bob", "a.bin", GetFolder(file.toStdString()));
        QCOMPARE(Status(entry), statusAfter);
        QCOMPARE(entry[remoteTransferReq].AsString(), QString(answer == Accepted(7) ? "7" : ""));
        if (existing.isEmpty() && !entry.IsNull())
        {
            QCOMPARE(entry[downloadOrder].AsInt64(), counter);
            QCOMPARE(entry[PeerTypes::fileSize].AsInt64(), 100);
            const QString target = Manager()->GetDownloadTargetPath(entry, false);
            QVERIFY(TransferQueueManager::LocalPath(target).startsWith(setup.Downloads() + "/"));
        }
    }
};

QTEST_GUILESS_MAIN(NegotiationTest)
#include "tst_negotiation.moc"
