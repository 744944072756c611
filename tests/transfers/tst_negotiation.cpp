#include <memory>

#include <QFile>
#include <QSignalSpy>
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

// Stored times hold whole seconds.
QDateTime WholeSeconds(const QDateTime& time)
{
    return time.addMSecs(-time.time().msec());
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

    // The queued size stays; another offer is refused and shown, never written as the file.
    void keepsTheQueuedSizeAgainstAnotherOffer_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<qint64>("offered");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("statusAfter");
        QTest::newRow("same size") << "aborted" << qint64(100) << true << "aborted";
        QTest::newRow("shrank") << "queued" << qint64(40) << false << "denied";
        QTest::newRow("grew") << "queued" << qint64(250) << false << "denied";
        QTest::newRow("emptied") << "aborted" << qint64(0) << false << "denied";
        QTest::newRow("near 2^62") << "queued" << (qint64(1) << 62) << false << "denied";
        QTest::newRow("negative") << "queued" << qint64(-1) << false << "denied";
        QTest::newRow("while downloading") << "downloading" << qint64(60) << false << "downloading";
    }

    void keepsTheQueuedSizeAgainstAnotherOffer()
    {
        QFETCH(QString, status);
        QFETCH(qint64, offered);
        QFETCH(bool, accepted);
        QFETCH(QString, statusAfter);
        ItemPtr entry = Download("bob", "a.bin", status);
        bob->Send(40, qint32(1), quint32(8), Bytes("x\\a.bin"), offered);
        QCOMPARE(Received(), QList<QByteArray>{accepted ? Accepted(8) : Refused(8, "Cancelled")});
        QCOMPARE(entry[PeerTypes::fileSize].AsInt64(), qint64(100));
        QCOMPARE(Status(entry), statusAfter);
        QCOMPARE(entry.IsConnected(remoteTransferReq), accepted);
        if (statusAfter == "denied")
            QVERIFY(entry[denialReason].AsString().contains(QString::number(offered)));
    }

    void requestNumberNamesOneEntryPerUser()
    {
        ItemPtr first = Download("bob", "a.bin");
        ItemPtr second = Download("bob", "b.bin");
        ItemPtr carls = Download("carl", "a.bin");
        bob->Send(40, qint32(1), quint32(5), Bytes("x\\a.bin"), qint64(100));
        bob->Send(40, qint32(1), quint32(5), Bytes("x\\b.bin"), qint64(100));
        Manager()->OnFileTransferRequest("carl", 1, 5, "x\\a.bin", 100);
        QCOMPARE(Received(), (QList<QByteArray>{Accepted(5), Accepted(5)}));
        QVERIFY(!first.IsConnected(remoteTransferReq));
        QCOMPARE(second[remoteTransferReq].AsString(), QString("5"));
        QCOMPARE(carls[remoteTransferReq].AsString(), QString("5"));

        // A new number replaces the old one, which nothing holds any more.
        bob->Send(40, qint32(1), quint32(6), Bytes("x\\b.bin"), qint64(100));
        QCOMPARE(Received(), QList<QByteArray>{Accepted(6)});
        QCOMPARE(second[remoteTransferReq].AsString(), QString("6"));
        QCOMPARE(
            ItemPtr(d.GetType(remoteTransferReq)->HasItem(Value(5))).GetItems(downloadEntry).Size(),
            size_t(1));
    }

    void directionZeroIsAQueueRequest_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("shared");
        QTest::newRow("shared file") << "song.mp3" << true;
        QTest::newRow("not shared") << "secret.mp3" << false;
    }

    void directionZeroIsAQueueRequest()
    {
        QFETCH(QString, file);
        QFETCH(bool, shared);
        bob->Send(40, qint32(0), quint32(3), PeerName(file).toStdString());
        QList<QByteArray> expected{Refused(3, "Queued")};
        if (!shared)
            expected << FakePeer::Body(50, PeerName(file), QString("File not shared."));
        QCOMPARE(Received(), expected);
        QCOMPARE(UploadStatus(Upload("bob", file)), QString(shared ? "queued" : ""));
    }

    void uploaderNoticesChangeTheEntry_data()
    {
        QTest::addColumn<QByteArray>("notice");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QList<QByteArray>>("replies");
        const QList<QByteArray> none;
        const QString queued = "queued";
        auto row = [](const char* name, const QByteArray& notice, const QString& status,
                      const char* place, const char* reason, const QList<QByteArray>& replies) {
            QTest::newRow(name) << notice << status << QString(place) << QString(reason) << replies;
        };
        row("place", FakePeer::Body(44, Bytes("x\\a.bin"), qint32(12)), queued, "12", "", none);
        row("denied", FakePeer::Body(50, Bytes("x\\a.bin"), QString("Too many files")), "denied",
            "", "Too many files", none);
        row("failed while online", FakePeer::Body(46, Bytes("x\\a.bin")), queued, "", "",
            {FakePeer::Body(43, Bytes("x\\a.bin"))});
        row("denied, other file", FakePeer::Body(50, Bytes("x\\b.bin"), QString("No")), queued, "",
            "", none);
        row("place, no folder", FakePeer::Body(44, Bytes("a.bin"), qint32(3)), queued, "", "",
            none);
        row("denied, carl's file", FakePeer::Body(50, Bytes("x\\c.bin"), QString("No")), queued, "",
            "", none);
    }

    void uploaderNoticesChangeTheEntry()
    {
        QFETCH(QByteArray, notice);
        QFETCH(QList<QByteArray>, replies);
        TransfersTestSetup::User("bob", true);
        ItemPtr entry = Download("bob", "a.bin");
        ItemPtr carls = Download("carl", "c.bin");
        Received();
        bob->SendFrame(notice);
        QCOMPARE(Received(), replies);
        QTEST(Status(entry), "status");
        QTEST(entry[placeInLine].AsString(), "place");
        QTEST(entry[denialReason].AsString(), "reason");
        QCOMPARE(Status(carls), QString("queued"));
    }

    void placeInLineIsReplaced()
    {
        ItemPtr entry = Download("bob", "a.bin");
        bob->Send(44, Bytes("x\\a.bin"), qint32(12345));
        bob->Send(44, Bytes("x\\a.bin"), qint32(2));
        Received();
        QCOMPARE(entry[placeInLine].AsString(), QString("2"));
        QVERIFY(!d.GetType(placeInLine)->HasItem(Value(12345)));
    }

    void pushedOfferIsQueuedOnlyFromFriends_data()
    {
        QTest::addColumn<QString>("accept");
        QTest::addColumn<bool>("queued");
        QTest::newRow("listed, accepted") << "yes" << true;
        QTest::newRow("listed, not accepted") << "no" << false;
    }

    void pushedOfferIsQueuedOnlyFromFriends()
    {
        QFETCH(QString, accept);
        QFETCH(bool, queued);
        TransfersTestSetup::User("bob", true);
        bobItem.NewItem(ServerTypes::inUserList);
        Settings::Set("accept_userlist_uploads", Value(accept));
        bob->Send(60, Bytes("x\\gift.bin"), qint64(42));
        QList<QByteArray> expected;
        if (queued)
            expected << FakePeer::Body(43, Bytes("x\\gift.bin"));
        QCOMPARE(Received(), expected);
        ItemPtr entry = Manager()->GetDownloadEntry("bob", "gift.bin", "x");
        QCOMPARE(Status(entry), QString(queued ? "queued" : ""));
        QCOMPARE(entry[PeerTypes::fileSize].AsInt64(), queued ? 42 : 0);
    }

    void emptyShareCheck_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("emptyShare");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("warned");
        QTest::newRow("empty") << "requested" << true << false << "share!"
                               << "empty" << true;
        QTest::newRow("not empty") << "requested" << false << false << "share!"
                                   << "not_empty" << false;
        QTest::newRow("empty, listed") << "requested" << true << true << "share!"
                                       << "empty" << false;
        QTest::newRow("browsing only") << "" << true << false << "share!"
                                       << "" << false;
    }

    void emptyShareCheck()
    {
        QFETCH(QString, before);
        QFETCH(bool, emptyShare);
        QFETCH(bool, listed);
        QFETCH(QString, message);
        QFETCH(bool, warned);
        Settings::Set("check_for_empty_shares", "yes");
        Settings::Set("empty_share_message", Value(message));
        if (!before.isEmpty())
            bobItem.Connect(d.GetType(emptyShareCheckStatus)->GetItem(Value(before)));
        if (listed)
            bobItem.NewItem(ServerTypes::inUserList);
        FileInfoMap share;
        if (!emptyShare)
            share["music"];
        AttributeTranslationTable names;
        Manager()->OnUserShare("bob", share, names);
        QTEST(bobItem[emptyShareCheckStatus].AsString(), "after");
        QCOMPARE(bobItem[sentEmptyShareWarningMessage].AsString(), warned ? message : QString());
    }

    void queueRequestsAreQueuedOrRefused_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason"); // empty: no answer
        QTest::addColumn<QString>("status");
        QTest::newRow("shared") << ""
                                << "song.mp3"
                                << ""
                                << "queued";
        QTest::newRow("climbing out of the share") << ""
                                                   << "x/../../../../etc/passwd"
                                                   << "File not shared."
                                                   << "";
        QTest::newRow("name in other case") << ""
                                            << "SONG.MP3"
                                            << ""
                                            << "queued";
        QTest::newRow("not shared") << ""
                                    << "secret.mp3"
                                    << "File not shared."
                                    << "";
        QTest::newRow("user unshared") << "unshared"
                                       << "song.mp3"
                                       << "File not shared."
                                       << "";
        QTest::newRow("quitting") << "quitting"
                                  << "song.mp3"
                                  << "Pending shutdown."
                                  << "";
        QTest::newRow("quitting, not shared") << "quitting"
                                              << "secret.mp3"
                                              << "File not shared."
                                              << "";
        QTest::newRow("at the limit") << "limit"
                                      << "song.mp3"
                                      << "Too many files"
                                      << "";
        QTest::newRow("at the limit, already queued") << "limit"
                                                      << "other.mp3"
                                                      << ""
                                                      << "queued";
        QTest::newRow("at the limit, complete again") << "limit, complete"
                                                      << "song.mp3"
                                                      << ""
                                                      << "queued";
    }

    void queueRequestsAreQueuedOrRefused()
    {
        QFETCH(QString, situation);
        QFETCH(QString, file);
        QFETCH(QString, reason);
        if (situation == "unshared")
            bobItem.NewItem(SharesTypes::unshared);
        if (situation == "quitting")
            Settings::Set("finish_uploads_and_quit", "yes", Settings::runtime);
        if (situation == "limit, complete")
        {
            bob->Send(43, PeerName("song.mp3"));
            Received();
            Manager()->SetUploadEntryStatus(Upload("bob", "song.mp3"), "complete");
        }
        if (situation.startsWith("limit"))
        {
            Settings::Set("max_queued_uploads_per_user", "1");
            bob->Send(43, PeerName("other.mp3"));
        }
        Received();
        bob->Send(43, PeerName(file));
        QList<QByteArray> expected;
        if (!reason.isEmpty())
            expected << FakePeer::Body(50, PeerName(file), reason);
        QCOMPARE(Received(), expected);
        QTEST(UploadStatus(Upload("bob", file)), "status");
    }

    void queueRequestStartsTheEmptyShareCheckOnce()
    {
        Settings::Set("check_for_empty_shares", "yes");
        bob->Send(43, PeerName("song.mp3"));
        bob->Send(43, PeerName("other.mp3"));
        QCOMPARE(Received(), QList<QByteArray>{FakePeer::Body(4)});
        QCOMPARE(bobItem[emptyShareCheckStatus].AsString(), QString("requested"));
    }

    void placeQuestionIsAnsweredForTheExactName()
    {
        Manager()->OnQueueUploadRequested("carl", PeerName("other.mp3"));
        bob->Send(43, PeerName("song.mp3"));
        bob->Send(51, PeerName("song.mp3"));
        bob->Send(51, QString(sharedFolder + "/song.mp3"));
        bob->Send(51, PeerName("other.mp3"));
        QCOMPARE(Received(),
                 QList<QByteArray>{FakePeer::Body(44, PeerName("song.mp3"), qint32(2))});
    }

    void answerToOurTransferRequest_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<bool>("nextStarts");
        const QList<QByteArray> none;
        QTest::newRow("accepted") << "song.mp3"
                                  << "accept"
                                  << "connecting" << none << false;
        QTest::newRow("refused") << "song.mp3"
                                 << "refuse"
                                 << "denied" << none << true;
        QTest::newRow("file gone") << "gone.mp3"
                                   << "accept"
                                   << "local error"
                                   << QList<QByteArray>{FakePeer::Body(50, PeerName("gone.mp3"),
                                                                       QString("File read error."))}
                                   << true;
        QTest::newRow("from another user") << "song.mp3"
                                           << "foreign"
                                           << "requesting" << none << false;
        QTest::newRow("unknown number") << "song.mp3"
                                        << "unknown"
                                        << "requesting" << none << false;
        QTest::newRow("after the hand-shake ended")
            << "song.mp3"
            << "late"
            << "aborted" << QList<QByteArray>{FakePeer::Body(46, PeerName("song.mp3"))} << false;
    }

    void answerToOurTransferRequest()
    {
        QFETCH(QString, file);
        QFETCH(QString, answer);
        QFETCH(QList<QByteArray>, replies);
        QFETCH(bool, nextStarts);
        FakePeer fileLink;
        QSignalSpy fileLinks(peerMessenger, &PeerMessenger::FileConnectionAccepted);
        MessengerTestSetup::SetUserAddress("bob", fileLink.Listen());
        TransfersTestSetup::User("bob", true);
        Received();
        const quint32 request = Settings::Get("transfer_req_counter").AsUInt();
        bob->Send(43, PeerName(file));
        QCOMPARE(Received(), QList<QByteArray>{FakePeer::Body(40, qint32(1), request,
                                                              PeerName(file), qint64(5))});
        TransfersTestSetup::User("carl", true);
        Manager()->OnQueueUploadRequested("carl", PeerName("other.mp3"));
        ItemPtr entry = Upload("bob", file);
        if (answer == "late")
            Manager()->SetUploadEntryStatus(entry, "aborted");
        if (answer == "accept" || answer == "late")
            bob->Send(41, request, true);
        if (answer == "refuse")
            bob->Send(41, request, false, QString("Busy"));
        if (answer == "unknown")
            bob->Send(41, request + 100, true);
        if (answer == "foreign")
            Manager()->OnFileTransferResponse("carl", request, true, false, 0, QString());
        QCOMPARE(Received(), replies);
        QFETCH(QString, status);
        // Once the file link is up the upload moves on by itself.
        if (status == "connecting")
            QVERIFY2(QStringList({"connecting", "waiting for offset", "uploading"})
                         .contains(UploadStatus(entry)),
                     qPrintable(UploadStatus(entry)));
        else
            QCOMPARE(UploadStatus(entry), status);
        QCOMPARE(entry[denialReason].AsString(), QString(answer == "refuse" ? "Busy" : ""));
        QCOMPARE(entry.IsConnected(uploadFile), answer == "accept" && file == "song.mp3");
        QCOMPARE(UploadStatus(Upload("carl", "other.mp3")),
                 QString(nextStarts ? "requesting" : "queued"));
        // The link is handed over as a file link once it is up.
        if (entry.IsConnected(uploadFile))
            QVERIFY(fileLink.WaitForClient());
        QTRY_COMPARE(fileLinks.size(), entry.IsConnected(uploadFile) ? 1 : 0);
        if (!fileLinks.isEmpty())
            QCOMPARE(fileLinks.first().first().toString(), QString("bob"));
    }

    void stalledHandshakeIsAbortedAndThePeerTold_data()
    {
        QTest::addColumn<QList<int>>("ages");
        QTest::addColumn<int>("notices");
        QTest::newRow("29 s") << QList<int>{29} << 0;
        QTest::newRow("two at 31 s") << QList<int>{31, 31} << 2;
        QTest::newRow("29 s and 31 s") << QList<int>{29, 31} << 1;
    }

    void stalledHandshakeIsAbortedAndThePeerTold()
    {
        QFETCH(QList<int>, ages);
        QFETCH(int, notices);
        const QDateTime now = QDateTime::currentDateTime();
        const QStringList files = {"song.mp3", "other.mp3"};
        QStringList expected;
        for (int i = 0; i < ages.size(); ++i)
        {
            bob->Send(43, PeerName(files[i]));
            Received();
            ItemPtr entry = Upload("bob", files[i]);
            Manager()->SetUploadEntryStatus(entry, i == 0 ? "requesting" : "connecting");
            entry.Connect(d.GetType(lastStatusChangeTime)
                              ->GetItem(Value(now.addSecs(-ages[i]).toString(Qt::TextDate))));
            if (ages[i] > 30)
                expected << QString::fromLatin1(FakePeer::Body(46, PeerName(files[i])).toHex());
        }
        Manager()->EveryHalfMinuteAt(now);
        QStringList sent;
        for (const QByteArray& frame : Received())
            sent << QString::fromLatin1(frame.toHex());
        sent.sort();
        expected.sort();
        QCOMPARE(sent, expected);
        QCOMPARE(expected.size(), notices);
    }

    void queuedDownloadsAreAskedForAgain_data()
    {
        QTest::addColumn<int>("lastAsked"); // seconds ago; -1: never
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("asked");
        QTest::newRow("never asked") << -1 << "" << true;
        QTest::newRow("9 min ago") << 540 << "" << false;
        QTest::newRow("10 min ago") << 600 << "" << true;
        QTest::newRow("download running") << 600 << "running" << false;
        QTest::newRow("offline") << 600 << "offline" << false;
    }

    void queuedDownloadsAreAskedForAgain()
    {
        QFETCH(int, lastAsked);
        QFETCH(QString, situation);
        QFETCH(bool, asked);
        TransfersTestSetup::User("bob", true);
        Download("bob", "a.bin");
        if (situation == "running")
            Download("bob", "b.bin", "downloading");
        if (situation == "offline")
            TransfersTestSetup::User("bob", false);
        Received();
        const QDateTime now = WholeSeconds(QDateTime::currentDateTime().addSecs(3600));
        bobItem.Connect(d.GetType(nextPlaceInLineRequestTime)
                            ->GetItem(Value(now.addDays(1).toString(Qt::TextDate))));
        bobItem.Disconnect(lastQueueRequestTime);
        if (lastAsked >= 0)
            bobItem.Connect(d.GetType(lastQueueRequestTime)
                                ->GetItem(Value(now.addSecs(-lastAsked).toString(Qt::TextDate))));
        Manager()->EveryHalfMinuteAt(now);
        QList<QByteArray> expected;
        if (asked)
            expected << FakePeer::Body(43, Bytes("x\\a.bin"));
        QCOMPARE(Received(), expected);
        QCOMPARE(Time(bobItem[lastQueueRequestTime]) == now, asked);
        if (asked)
            QCOMPARE(Time(bobItem[nextPlaceInLineRequestTime]), now.addSecs(30));
    }

    void placeQuestionsFollowTheirSchedule()
    {
        TransfersTestSetup::User("bob", true);
        ItemPtr later = Download("bob", "a.bin");
        Download("bob", "b.bin");
        later.Connect(d.GetType(downloadOrder)->GetItem(Value(1000000)));
        Received();
        // Ten seconds after the last download was added.
        const QDateTime due = Time(bobItem[nextPlaceInLineRequestTime]);
        QVERIFY(due > QDateTime::currentDateTime().addSecs(8));
        QVERIFY(due <= QDateTime::currentDateTime().addSecs(10));
        Manager()->EveryHalfMinuteAt(due.addSecs(-1));
        QCOMPARE(Received(), QList<QByteArray>{});
        Manager()->EveryHalfMinuteAt(due);
        QCOMPARE(Received(), (QList<QByteArray>{FakePeer::Body(51, QString("x\\b.bin")),
                                                FakePeer::Body(51, QString("x\\a.bin"))}));
        QCOMPARE(Time(bobItem[nextPlaceInLineRequestTime]), due.addSecs(600));
        // Not yet due to be asked to queue again either.
        bobItem.Connect(
            d.GetType(lastQueueRequestTime)->GetItem(Value(due.toString(Qt::TextDate))));
        Manager()->EveryHalfMinuteAt(due.addSecs(599));
        QCOMPARE(Received(), QList<QByteArray>{});
    }

    void finishesUploadsThenQuits_data()
    {
        QTest::addColumn<int>("quietFor");
        QTest::addColumn<bool>("queuedUpload");
        QTest::addColumn<bool>("quits");
        QTest::newRow("301 s") << 301 << false << true;
        QTest::newRow("300 s") << 300 << false << false;
        QTest::newRow("301 s, upload queued for someone offline") << 301 << true << false;
    }

    void finishesUploadsThenQuits()
    {
        QFETCH(int, quietFor);
        QFETCH(bool, queuedUpload);
        QFETCH(bool, quits);
        if (queuedUpload)
            Manager()->OnQueueUploadRequested("carl", PeerName("other.mp3"));
        const QDateTime changed = QDateTime::currentDateTime();
        Settings::Set("last_upload_state_change", Value(changed.toString(Qt::TextDate)),
                      Settings::runtime);
        Settings::Set("finish_uploads_and_quit", "yes", Settings::runtime);
        // The run ends the event loop it is called from; a later event ends it otherwise.
        QTimer::singleShot(0, [&] {
            Manager()->EveryHalfMinuteAt(changed.addSecs(quietFor));
            QMetaObject::invokeMethod(
                qApp, [] { QCoreApplication::exit(7); }, Qt::QueuedConnection);
        });
        QCOMPARE(QCoreApplication::exec(), quits ? 0 : 7);
    }
};

QTEST_GUILESS_MAIN(NegotiationTest)
#include "tst_negotiation.moc"
