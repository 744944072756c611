#include <functional>

#include <QRandomGenerator>
#include <QtTest>

#include "PeerMessageCode.h"
#include "SharesTypes.h"
#include "TransfersTestSetup.h"

using namespace TransferTypes;

namespace {
QString Status(ItemPtr entry)
{
    return entry[uploadEntryStatus].AsString();
}

int Place(ItemPtr entry)
{
    return int(transferQueueManager->EffectiveUploadOrder(entry));
}
} // namespace

class UploadsTest : public QObject
{
    Q_OBJECT

private:
    TransfersTestSetup setup;

    TransferQueueManager* Manager() { return setup.manager; }

    // A shared file "<root>/<name>", made without the disk; the root is public unless another
    // audience mark is given.
    void Share(const QString& name, const QString& rootPath = "/shared",
               const char* audience = SharesTypes::sharedPublic)
    {
        using namespace SharesTypes;
        ItemPtr root = d.GetType(sharedFolder)->GetItem(Value(rootPath));
        if (!root.IsConnected(audience))
            root.NewItem(audience);
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value(rootPath));
        root.Connect(folder);
        ItemPtr file = folder.NewItem(sharedFile);
        file.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
        file.Connect(d.GetType(sharedFileSize)->GetItem(Value(1000)));
    }

    // Queues the file for the user and returns the entry.
    ItemPtr Push(const QString& user, const QString& name, const QString& root = "/shared")
    {
        Manager()->AddUpload(user, root + "/" + name);
        ItemPtr userItem = d.GetType(ServerTypes::user)->GetItem(Value(user));
        return userItem.GetItems(uploadEntry)
            .Connected(filenameAsRequested, Value(root + "/" + name));
    }

    static int Sent(const QString& user, std::uint32_t code)
    {
        return TransfersTestSetup::Pending(user).count(code);
    }

    // The refusals sent to the user, each with its reason.
    static int Refusals(const QString& user)
    {
        int count = 0;
        for (const QByteArray& body :
             TransfersTestSetup::Pending(user).values(PeerMessageCode::PM_UPLOAD_DENIED))
            count += body.endsWith("File not shared.") ? 1 : 0;
        return count;
    }

    static void MarkUnshared(const QString& user)
    {
        TransfersTestSetup::User(user, false)
            .Connect(d.GetType(SharesTypes::unshared)->GetGlobalNullItem());
    }

    void SetPriority(const QString& user, const QList<int>& priorities)
    {
        ItemPtr listed = TransfersTestSetup::User(user, false).NewItem(ServerTypes::inUserList);
        for (int priority : priorities)
        {
            ItemPtr group = d.GetType(ServerTypes::userListGroup)
                                ->GetItem(Value(user + QString::number(priority)));
            listed.Connect(group);
            group.Connect(d.GetType(ServerTypes::groupDownloadPriority)->GetItem(Value(priority)));
        }
    }

    // Runs one walk and compares it with the order read from the whole queue beforehand.
    void CheckWalk(const QString& where)
    {
        struct Before
        {
            long long number;
            QString status;
        };
        QHash<Item*, Before> before;
        std::vector<std::pair<long long, ItemPtr>> waiting;
        QSet<Item*> busy;
        for (ItemPtr entry : g(uploadEntry))
        {
            const long long number = Manager()->EffectiveUploadOrder(entry);
            before.insert(entry, {number, Status(entry)});
            ItemPtr user = entry[ServerTypes::user];
            if (entry[uploadEntryStatus].IsConnected(isActive))
                busy.insert(user);
            if (Status(entry) == "queued" && number >= 0 &&
                user.IsConnected(ServerTypes::isOnline) && !user.IsConnected(SharesTypes::unshared))
                waiting.emplace_back(number, entry);
        }
        std::sort(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first
                                      : std::less<Item*>()(a.second.Get(), b.second.Get());
        });
        int free = Settings::Get("upload_slots").AsInt() - Manager()->ActiveUploadCount();
        const bool walks = free > 0;
        QHash<Item*, Before> expected = before;
        for (int place = 0; walks && place < int(waiting.size()); ++place)
        {
            ItemPtr entry = waiting[size_t(place)].second;
            ItemPtr user = entry[ServerTypes::user];
            expected[entry].number = place;
            if (free > 0 && !busy.contains(user))
            {
                expected[entry].status = "requesting";
                busy.insert(user);
                --free;
            }
        }
        Manager()->StartNewUploads();
        QCOMPARE(int(g(uploadEntry).Size()), expected.size());
        for (ItemPtr entry : g(uploadEntry))
        {
            const QString what = where + ", " + entry[ServerTypes::user].AsString() + " " +
                                 entry[filenameAsRequested].AsString();
            QVERIFY2(Manager()->EffectiveUploadOrder(entry) == expected[entry].number,
                     qPrintable(what + ": number " +
                                QString::number(Manager()->EffectiveUploadOrder(entry)) +
                                ", expected " + QString::number(expected[entry].number)));
            QVERIFY2(
                Status(entry) == expected[entry].status,
                qPrintable(what + ": " + Status(entry) + ", expected " + expected[entry].status));
        }
    }

    // A shared folder whose files are on the disk, unlike the others.
    QString DiskRoot() const { return setup.home.path() + "/disk"; }

    void Limit(int kib, bool enabled)
    {
        Settings::Set("upload_speed_limit", Value(kib));
        Manager()->EnableUploadSpeedLimit(enabled);
    }

private slots:
    void initTestCase()
    {
        setup.Build();
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
            Share(name);
        Share("p.mp3", "/private");
        Share("l.mp3", "/listed", SharesTypes::sharedUserlist);
        Share("e.mp3", DiskRoot());
    }

    void cleanupTestCase() { setup.Destroy(); }

    void init()
    {
        for (ItemPtr entry : g(uploadEntry))
            Manager()->RemoveUpload(entry);
        TransfersTestSetup::ForgetMessages();
        g(ServerTypes::inUserList).Remove();
        g(ServerTypes::userListGroup).Remove();
        for (ItemPtr user : g(ServerTypes::user))
        {
            user.Disconnect(ServerTypes::isOnline);
            user.Disconnect(ServerTypes::isPrivileged);
            user.Disconnect(SharesTypes::unshared);
        }
        Settings::Set("upload_slots", "1");
        Limit(0, false);
        ItemPtr privateRoot = d.GetType(SharesTypes::sharedFolder)->GetItem(Value("/private"));
        if (!privateRoot.IsConnected(SharesTypes::sharedPublic))
            privateRoot.NewItem(SharesTypes::sharedPublic);
    }

    void groupPriorityIsTheHighest_data()
    {
        QTest::addColumn<QList<int>>("groups");
        QTest::addColumn<int>("priority");
        QTest::newRow("2 and 7") << QList<int>{2, 7} << 7;
        QTest::newRow("negative") << QList<int>{-3} << 0;
        QTest::newRow("listed, no group") << QList<int>{} << 0;
    }

    void groupPriorityIsTheHighest()
    {
        QFETCH(QList<int>, groups);
        QFETCH(int, priority);
        SetPriority("ivy", groups);
        QCOMPARE(Manager()->GetUserGroupDownloadPriority("ivy"), priority);
    }

    void ordersTheQueueByPriorityThenArrival_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("priority overtakes") << "priority" << QStringList{"cat", "ann", "bob"};
        QTest::newRow("privilege overtakes") << "privilege" << QStringList{"cat", "ann", "bob"};
        QTest::newRow("priority beats privilege") << "both" << QStringList{"bob", "cat", "ann"};
    }

    void ordersTheQueueByPriorityThenArrival()
    {
        QFETCH(QString, situation);
        QFETCH(QStringList, expected);
        if (situation == "priority")
            SetPriority("cat", {5});
        if (situation == "privilege" || situation == "both")
            TransfersTestSetup::User("cat", false).NewItem(ServerTypes::isPrivileged);
        if (situation == "both")
            SetPriority("bob", {1});
        QMap<int, QString> order;
        for (const QString& user : QStringList{"ann", "bob", "cat"})
        {
            ItemPtr entry = Push(user, "a.mp3");
            QCOMPARE(Status(entry), QString("queued"));
        }
        for (ItemPtr entry : g(uploadEntry))
            order[Place(entry)] = entry[ServerTypes::user].AsString();
        QCOMPARE(order.keys(), (QList<int>{1, 2, 3}));
        QCOMPARE(order.values(), expected);
    }

    void startsOneUploadPerUserInOrder_data()
    {
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<QStringList>("pushes");
        QTest::addColumn<QStringList>("statuses");
        QTest::newRow("one slot, three users") << 1 << QStringList{"ann", "bob", "cat"}
                                               << QStringList{"requesting", "queued", "queued"};
        QTest::newRow("two slots, one user") << 2 << QStringList{"ann", "ann", "bob"}
                                             << QStringList{"requesting", "queued", "requesting"};
        QTest::newRow("three slots, one user") << 3 << QStringList{"ann", "ann", "ann"}
                                               << QStringList{"requesting", "queued", "queued"};
    }

    void startsOneUploadPerUserInOrder()
    {
        QFETCH(int, slotCount);
        QFETCH(QStringList, pushes);
        QFETCH(QStringList, statuses);
        const QStringList files = {"a.mp3", "b.mp3", "c.mp3"};
        // No slot while the users come online (each arrival starts uploads), so that one start
        // below sees the whole queue.
        Settings::Set("upload_slots", "0");
        for (const QString& user : pushes)
            TransfersTestSetup::User(user, true);
        QList<ItemPtr> entries;
        for (int i = 0; i < pushes.size(); ++i)
            entries << Push(pushes[i], files[i]);
        Settings::Set("upload_slots", Value(slotCount));
        Manager()->StartNewUploads();
        for (int i = 0; i < entries.size(); ++i)
        {
            QCOMPARE(Status(entries[i]), statuses[i]);
            QCOMPARE(Place(entries[i]), i);
        }
        QCOMPARE(TransfersTestSetup::Pending("ann").count(PeerMessageCode::PM_TRANSFER_REQUEST), 1);
    }

    void freedSlotStartsTheNextUpload()
    {
        TransfersTestSetup::User("ann", true);
        TransfersTestSetup::User("bob", true);
        ItemPtr first = Push("ann", "a.mp3");
        ItemPtr second = Push("bob", "a.mp3");
        QCOMPARE(Status(first), QString("requesting"));
        QCOMPARE(Status(second), QString("queued"));
        QVERIFY(!Manager()->IsFreeToUpload());
        Manager()->SetUploadEntryStatus(first, "complete");
        Manager()->RemoveUpload(first);
        QCOMPARE(Status(second), QString("requesting"));
        QCOMPARE(Manager()->ActiveUploadCount(), 1);
        QCOMPARE(Manager()->QueuedUploadCount(), 0);
    }

    void abortingARunningUploadTellsThePeer_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("notices");
        QTest::newRow("requesting") << true << 1;
        QTest::newRow("queued") << false << 0;
    }

    void abortingARunningUploadTellsThePeer()
    {
        QFETCH(bool, running);
        QFETCH(int, notices);
        TransfersTestSetup::User("ann", running);
        ItemPtr entry = Push("ann", "b.mp3");
        Manager()->SetUploadEntryStatus(entry, "aborted");
        const auto pending = TransfersTestSetup::Pending("ann");
        QCOMPARE(pending.count(PeerMessageCode::PM_UPLOAD_FAILED), notices);
        QCOMPARE(pending.value(PeerMessageCode::PM_UPLOAD_FAILED).mid(4),
                 QByteArray(notices ? "/shared/b.mp3" : ""));
    }

    // The peer is offered the file as it is on the disk now, and the entry keeps that size for
    // its file link; the index keeps the scan's, as does the offer of a file gone.
    void offerAnnouncesTheFileAsItIsOnTheDisk_data()
    {
        QTest::addColumn<int>("onDisk");
        QTest::newRow("grew since the scan") << 6000;
        QTest::newRow("emptied since the scan") << 0;
        QTest::newRow("gone from the disk") << -1;
    }

    void offerAnnouncesTheFileAsItIsOnTheDisk()
    {
        QFETCH(int, onDisk);
        QFile file(DiskRoot() + "/e.mp3");
        file.remove();
        QVERIFY(QDir().mkpath(DiskRoot()));
        QVERIFY(onDisk < 0 || (file.open(QIODevice::WriteOnly) && file.resize(onDisk)));
        TransfersTestSetup::User("ann", true);
        ItemPtr entry = Push("ann", "e.mp3", DiskRoot());
        QCOMPARE(Status(entry), QString("requesting"));
        const qint64 announced = onDisk < 0 ? 1000 : onDisk;
        const auto pending = TransfersTestSetup::Pending("ann");
        const QByteArray size = TransfersTestSetup::LittleEndian(quint64(announced), 8);
        QCOMPARE(pending.value(PeerMessageCode::PM_TRANSFER_REQUEST).right(8), size);
        QCOMPARE(pending.value(PeerMessageCode::QueueUploadFromUs).right(8), size);
        QCOMPARE(entry[PeerTypes::fileSize].AsInt64(), announced);
        QCOMPARE(entry[SharesTypes::sharedFile][SharesTypes::sharedFileSize].AsInt64(),
                 qint64(1000));
    }

    void sharesTheSpeedLimit_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("running");
        QTest::addColumn<int>("share");
        // The share once the first running upload is removed.
        QTest::addColumn<int>("shareAfterRemoval");
        QTest::newRow("100 over 3") << 100 << true << 3 << 33 << 50;
        QTest::newRow("100 over 2") << 100 << true << 2 << 50 << 100;
        QTest::newRow("2 over 3") << 2 << true << 3 << 1 << 1;
        QTest::newRow("100, none running") << 100 << true << 0 << 100 << 100;
        QTest::newRow("disabled") << 50 << false << 2 << 0 << 0;
        QTest::newRow("negative") << -5 << true << 2 << 0 << 0;
    }

    void sharesTheSpeedLimit()
    {
        QFETCH(int, limit);
        QFETCH(bool, enabled);
        QFETCH(int, running);
        QFETCH(int, share);
        QFETCH(int, shareAfterRemoval);
        const QStringList users = {"ann", "bob", "cat"};
        QList<ItemPtr> entries;
        for (int i = 0; i < running; ++i)
        {
            entries << Push(users[i], "c.mp3");
            Manager()->SetUploadEntryStatus(entries.last(), "uploading");
        }
        Limit(limit, enabled);
        QCOMPARE(Manager()->GetPerUploadSpeedLimit(), share);
        QCOMPARE(Manager()->GetUploadSpeed(), share ? limit : 0);
        if (!entries.isEmpty())
            Manager()->RemoveUpload(entries.first());
        QCOMPARE(Manager()->GetPerUploadSpeedLimit(), shareAfterRemoval);
    }

    void earnedBytesDoNotOverflow_data()
    {
        QTest::addColumn<int>("kib");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("1 KiB/s, 1 s") << 1 << qint64(1000) << qint64(1024);
        QTest::newRow("3 GiB/s, 1 s")
            << 3 * 1024 * 1024 << qint64(1000) << qint64(3) * 1024 * 1024 * 1024;
        QTest::newRow("max KiB/s, 1 h")
            << INT_MAX << qint64(3600000) << qint64(INT_MAX) * 1024 * 3600;
    }

    void earnedBytesDoNotOverflow()
    {
        QFETCH(int, kib);
        QFETCH(qint64, ms);
        QFETCH(qint64, bytes);
        QCOMPARE(TransferQueueManager::EarnedBytes(kib, ms), bytes);
    }

    void stalledHandshakesTimeOut_data()
    {
        QTest::addColumn<int>("age");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("after");
        QTest::newRow("requesting, 29 s") << 29 << QString("requesting") << QString("requesting");
        QTest::newRow("requesting, 59 s") << 59 << QString("requesting") << QString("aborted");
        QTest::newRow("connecting, 30 s") << 30 << QString("connecting") << QString("aborted");
        QTest::newRow("uploading, 1 h") << 3600 << QString("uploading") << QString("uploading");
    }

    void stalledHandshakesTimeOut()
    {
        QFETCH(int, age);
        QFETCH(QString, status);
        QFETCH(QString, after);
        ItemPtr entry = Push("ann", "a.mp3");
        Manager()->SetUploadEntryStatus(entry, status);
        const QDateTime now = QDateTime::currentDateTime();
        entry.Connect(d.GetType(lastStatusChangeTime)
                          ->GetItem(Value(now.addSecs(-age).toString(Qt::TextDate))));
        Manager()->EveryHalfMinuteAt(now);
        QCOMPARE(Status(entry), after);
    }

    // Entries of three users, queued A, B, A, C, B, A, started with different users online. The
    // walk reads the queue from the online users' entries when those are fewer than the queued
    // ones, else from the queued entries; both ways must give the same places.
    void walkNumbersOnlineUsersInQueueOrder_data()
    {
        QTest::addColumn<bool>("withFinished");
        QTest::newRow("read from the online users") << false;
        QTest::newRow("read from the queued entries") << true;
    }

    void walkNumbersOnlineUsersInQueueOrder()
    {
        QFETCH(bool, withFinished);
        const QStringList pushes = {"ann a.mp3", "bob a.mp3", "ann b.mp3",
                                    "cat a.mp3", "bob b.mp3", "ann c.mp3"};
        QMap<QString, ItemPtr> entries;
        for (const QString& push : pushes)
            entries[push] = Push(push.section(' ', 0, 0), push.section(' ', 1));
        // Finished entries make the online users' entries outnumber the queued ones.
        if (withFinished)
            for (const char* name : {"d.mp3", "p.mp3"})
                Manager()->SetUploadEntryStatus(
                    Push("ann", name, name[0] == 'p' ? "/private" : "/shared"), "complete");
        // No slot while the users come online (each arrival starts uploads), so that one start
        // below sees the whole queue.
        Settings::Set("upload_slots", "0");
        TransfersTestSetup::User("bob", true);
        TransfersTestSetup::User("ann", true);
        Settings::Set("upload_slots", "1");
        Manager()->StartNewUploads();
        auto check = [&](const QStringList& expected) {
            for (int i = 0; i < pushes.size(); ++i)
            {
                const QStringList fields = expected[i].split(' ');
                QCOMPARE(Status(entries[pushes[i]]), fields[0]);
                QCOMPARE(Place(entries[pushes[i]]), fields[1].toInt());
            }
        };
        check({"requesting 0", "queued 1", "queued 2", "queued 4", "queued 3", "queued 4"});
        Manager()->SetUploadSlots(2);
        check({"requesting 0", "requesting 0", "queued 1", "queued 4", "queued 2", "queued 3"});
        QCOMPARE(Sent("ann", PeerMessageCode::PM_TRANSFER_REQUEST), 1);
        QCOMPARE(Sent("bob", PeerMessageCode::PM_TRANSFER_REQUEST), 1);
        QCOMPARE(Sent("cat", PeerMessageCode::PM_TRANSFER_REQUEST), 0);
    }

    void startsNoUploadOfAFileNoLongerShared_data()
    {
        QTest::addColumn<bool>("userUnshared");
        QTest::addColumn<int>("refusals");
        QTest::addColumn<bool>("entryLeft");
        QTest::newRow("user marked unshared") << true << 0 << true;
        QTest::newRow("folder made private") << false << 1 << false;
    }

    void startsNoUploadOfAFileNoLongerShared()
    {
        QFETCH(bool, userUnshared);
        QFETCH(int, refusals);
        QFETCH(bool, entryLeft);
        ItemPtr refused = Push("ann", "p.mp3", "/private");
        ItemPtr next = Push("bob", "a.mp3");
        if (userUnshared)
            MarkUnshared("ann");
        else
            ItemPtr(d.GetType(SharesTypes::sharedFolder)->GetItem(Value("/private")))
                .Disconnect(SharesTypes::sharedPublic);
        TransfersTestSetup::User("ann", true);
        TransfersTestSetup::User("bob", true);
        Manager()->StartNewUploads();
        QCOMPARE(Sent("ann", PeerMessageCode::PM_TRANSFER_REQUEST), 0);
        QCOMPARE(Refusals("ann"), refusals);
        QCOMPARE(g(uploadEntry).Contains(refused), entryLeft);
        QCOMPARE(Status(next), QString("requesting"));
        QCOMPARE(Place(next), 0);
    }

    void unshareRefusesEveryEntryAndReshareQueuesAgain()
    {
        TransfersTestSetup::User("ann", true);
        TransfersTestSetup::User("bob", true);
        ItemPtr running = Push("ann", "a.mp3");
        Push("ann", "b.mp3");
        Manager()->SetUploadEntryStatus(Push("ann", "c.mp3"), "complete");
        ItemPtr waiting = Push("bob", "a.mp3");
        QCOMPARE(Status(running), QString("requesting"));
        QCOMPARE(Status(waiting), QString("queued"));
        Manager()->UnshareUser("ann");
        QCOMPARE(Refusals("ann"), 3);
        QVERIFY(TransfersTestSetup::User("ann", true).GetItems(uploadEntry).Empty());
        QCOMPARE(Status(waiting), QString("requesting"));
        Manager()->AddUpload("ann", "/shared/d.mp3");
        QVERIFY(TransfersTestSetup::User("ann", true).GetItems(uploadEntry).Empty());

        Manager()->ReshareUser("ann");
        QVERIFY(TransfersTestSetup::User("ann", true).GetItems(uploadEntry).Empty());
        ItemPtr again = Push("ann", "d.mp3");
        QCOMPARE(Status(again), QString("queued"));
        QCOMPARE(Manager()->QueuedUploadCount(), 1);
    }

    void refusesToQueueFilesTheUserMayNotHave_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("unshared");
        QTest::newRow("no such file") << "/shared/none.mp3" << false;
        QTest::newRow("user unshared") << "/shared/a.mp3" << true;
        QTest::newRow("user-list folder, user not listed") << "/listed/l.mp3" << false;
    }

    void refusesToQueueFilesTheUserMayNotHave()
    {
        QFETCH(QString, path);
        QFETCH(bool, unshared);
        if (unshared)
            MarkUnshared("eve");
        TransfersTestSetup::User("eve", true);
        Manager()->AddUpload("eve", path);
        QVERIFY(g(uploadEntry).Empty());
        QVERIFY(TransfersTestSetup::Pending("eve").isEmpty());
    }

    void setUploadSlotsTakesOneToNinetyNine_data()
    {
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("active");
        QTest::newRow("0") << 0 << "3" << 3;
        QTest::newRow("100") << 100 << "3" << 3;
        QTest::newRow("raised to 5") << 5 << "5" << 5;
        QTest::newRow("lowered to 2") << 2 << "2" << 3;
    }

    void setUploadSlotsTakesOneToNinetyNine()
    {
        QFETCH(int, slotCount);
        QFETCH(QString, stored);
        QFETCH(int, active);
        Settings::Set("upload_slots", "3");
        for (int i = 0; i < 6; ++i)
        {
            TransfersTestSetup::User(QString("user %1").arg(i), true);
            Push(QString("user %1").arg(i), "a.mp3");
        }
        QCOMPARE(Manager()->ActiveUploadCount(), 3);
        Manager()->SetUploadSlots(slotCount);
        QCOMPARE(Settings::GetText("upload_slots"), stored);
        QCOMPARE(Manager()->ActiveUploadCount(), active);
        QCOMPARE(Manager()->QueuedUploadCount(), 6 - active);
    }

    void finishedEntryQueuedAgainKeepsItsNumbers()
    {
        ItemPtr first = Push("ann", "a.mp3");
        Push("bob", "a.mp3");
        Manager()->SetUploadEntryStatus(first, "complete");
        const QString order = first[uploadOrder].AsString();
        QCOMPARE(Push("ann", "a.mp3"), first);
        QCOMPARE(Status(first), QString("queued"));
        QCOMPARE(first[uploadOrder].AsString(), order);
        QCOMPARE(Place(first), 1);
        QCOMPARE(Push("ann", "a.mp3"), first);
        QCOMPARE(int(g(uploadEntry).Size()), 2);
        QCOMPARE(Sent("ann", PeerMessageCode::QueueUploadFromUs), 3);
    }

    // Between walks the queue changes in every way a running client sees; each walk must number
    // the waiting entries (queued, online, not unshared) by the numbers they held, equal numbers
    // in item order, start the first ones whose users have no running upload, and leave every
    // other entry's number alone.
    void walkAfterAnyChangeMatchesAFullReadOfTheQueue_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 7u, 1234u, 99991u})
            QTest::newRow(qPrintable(QString::number(seed))) << seed;
    }

    void walkAfterAnyChangeMatchesAFullReadOfTheQueue()
    {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        const QStringList users = {"ann", "bob", "cat", "dan", "eve", "fay"};
        const QStringList files = {"a.mp3", "b.mp3", "c.mp3", "d.mp3"};
        const QStringList statuses = {"queued", "complete", "aborted", "uploading"};
        auto anyEntry = [&]() {
            const ItemSet entries = g(uploadEntry);
            ItemPtr chosen;
            int index = random.bounded(int(entries.Size()) + 1);
            for (ItemPtr entry : entries)
                if (index-- == 0)
                    chosen = entry;
            return chosen;
        };
        for (int step = 0; step < 400; ++step)
        {
            const QString user = users[random.bounded(users.size())];
            switch (random.bounded(10))
            {
            case 0:
            case 1:
            case 2:
                Push(user, files[random.bounded(files.size())]);
                break;
            case 3:
            case 4:
                if (ItemPtr entry = anyEntry())
                    Manager()->SetUploadEntryStatus(entry,
                                                    statuses[random.bounded(statuses.size())]);
                break;
            case 5:
                TransfersTestSetup::User(
                    user,
                    !TransfersTestSetup::User(user, false).IsConnected(ServerTypes::isOnline));
                break;
            case 6:
                if (ItemPtr entry = anyEntry())
                    Manager()->RemoveUpload(entry);
                break;
            case 7:
                // The mark alone, as the saved store brings it back, keeps the user's entries.
                if (random.bounded(3) == 0)
                    Manager()->UnshareUser(user);
                else if (random.bounded(2))
                    ItemPtr(d.GetType(ServerTypes::user)->GetItem(Value(user)))
                        .Connect(d.GetType(SharesTypes::unshared)->GetGlobalNullItem());
                else
                    Manager()->ReshareUser(user);
                break;
            case 8:
                Settings::Set("upload_slots", Value(random.bounded(1, 5)));
                break;
            default: {
                ItemPtr userItem = d.GetType(ServerTypes::user)->GetItem(Value(user));
                if (userItem.IsConnected(ServerTypes::isPrivileged))
                    userItem.Disconnect(ServerTypes::isPrivileged);
                else
                    userItem.Connect(d.GetType(ServerTypes::isPrivileged)->GetGlobalNullItem());
            }
            }
            CheckWalk(QString("seed %1, step %2").arg(seed).arg(step));
            TransfersTestSetup::ForgetMessages();
        }
    }

    // The mark alone comes back with the saved store; the user's entries stay until shared again.
    void entriesOfAResharedUserWaitAgain()
    {
        ItemPtr entry = Push("ann", "a.mp3");
        MarkUnshared("ann");
        TransfersTestSetup::User("ann", true);
        QCOMPARE(Status(entry), QString("queued"));
        Manager()->ReshareUser("ann");
        Manager()->StartNewUploads();
        QCOMPARE(Status(entry), QString("requesting"));
    }

    // The cached last-ordered entry, removed without RemoveUpload, must not be read again.
    void entryRemovedFromTheStoreLeavesNoStaleOrder()
    {
        Push("ann", "a.mp3");
        ItemPtr last = Push("bob", "a.mp3");
        QCOMPARE(Place(last), 2);
        last.Remove();
        QCOMPARE(Place(Push("cat", "a.mp3")), 2);
    }
};

QTEST_GUILESS_MAIN(UploadsTest)
#include "tst_uploads.moc"
