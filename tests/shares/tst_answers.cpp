#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "CompressedBody.h"
#include "FakeCentralServer.h"
#include "FakePeer.h"
#include "Log.h"
#include "PeerTypes.h"
#include "ServerStore.h"
#include "ServerTestSetup.h"
#include "Settings.h"
#include "SharesTestSetup.h"
#include "UserStats.h"

namespace {
using ServerBytes::Fields;

// One file record as a receiver reads it.
QByteArray Record(const QString& name, qint64 size, const std::string& extension)
{
    return Fields(true, name.toStdString(), size, extension, std::uint32_t(0));
}

// The inflated body of a compressed message with the code.
QByteArray Inflated(const QByteArray& frame, std::uint32_t code)
{
    MemStream body;
    if (frame.left(4) != FakePeer::Body(code) ||
        !CompressedBody::Inflate(frame.constData() + 4, frame.size() - 4, body))
        return QByteArray("not a compressed message of that code");
    return QByteArray(body.GetWrittenData(), body.GetWrittenLength());
}
} // namespace

class SharesAnswersTest : public SharesTestSetup::Fixture
{
    Q_OBJECT

private:
    std::unique_ptr<FakeCentralServer> central;
    QTemporaryDir temporary;
    QString music;
    // How peers name the folders: the local path with backslashes.
    QString listedMusic;
    QString listedLive;

    std::unique_ptr<FakePeer> Dial(const QString& user)
    {
        auto peer = std::make_unique<FakePeer>();
        peer->Dial(messenger->ListeningPort());
        peer->SendFrame(FakePeer::InitBody(user, "P"));
        return peer;
    }

private slots:
    void initTestCase()
    {
        central = std::make_unique<FakeCentralServer>();
        Build();
        Settings::Set("password", "pw");
        QVERIFY(ServerTestSetup::LogIn(*server, *central));
        music = temporary.path() + "/Music";
        QVERIFY(SharesTestSetup::WriteFile(music + "/Song One.mp3", "12345"));
        QVERIFY(SharesTestSetup::WriteFile(music + "/notes.txt", "abc"));
        QVERIFY(SharesTestSetup::WriteFile(music + "/Live/Song Two.ogg", "1234"));
        listedMusic = QString(music).replace('/', '\\');
        listedLive = listedMusic + "\\Live";
        shares->AddSharedFolder(music).NewItem(SharesTypes::sharedPublic);
        Settings::Set(SharesSettings::uploadSpeed, "777");
    }

    void cleanupTestCase() { Destroy(); }

    void answersServerSearchOverPeerLink()
    {
        QSignalSpy processed(shares, &SharedFoldersManager::SearchProcessed);
        FakePeer asker;
        MessengerTestSetup::SetUserAddress("alice", asker.Listen());
        // Only the last query is usable: the token of the one answer tells which was answered.
        central->Send(26, QString("alice"), quint32(5), QString("so"));
        central->Send(26, QString("alice"), quint32(6), QString("-song"));
        central->Send(26, QString("alice"), quint32(7), QString("song"));
        QTRY_COMPARE(processed.size(), 3);
        QCOMPARE(processed.at(2), (QVariantList{QString("song"), true}));
        QVERIFY(asker.WaitForFrames(2));
        QCOMPARE(asker.frames[0], FakePeer::InitBody("me", "P"));
        QCOMPARE(Inflated(asker.frames[1], 9),
                 Fields(QString("me"), std::uint32_t(7), std::uint32_t(2)) +
                     Record(listedLive + "\\Song Two.ogg", 4, "") +
                     Record(listedMusic + "\\Song One.mp3", 5, "mp3") +
                     Fields(true, std::uint32_t(777), std::uint32_t(0), std::uint32_t(0)));
    }

    // An answer too large to compress on the window's thread leaves later, byte for byte the
    // answer built for it, and answers asked for after it still leave.
    // A shared folder of files with long names, whose answers and lists take a while to compress.
    ItemPtr AddPlenty()
    {
        using namespace SharesTypes;
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value(music + "/Plenty"));
        ItemPtr(d.GetType(sharedFolder)->GetItem(Value(music))).Connect(folder);
        const QString padding(200, 'x');
        for (int at = 0; at < 2000; ++at)
        {
            shares->TokenizeSharedFile(
                AddFile(folder, Value(QString("plenty %1 %2.ogg").arg(at).arg(padding)), at));
        }
        return folder;
    }

    static void RemoveFolder(ItemPtr folder)
    {
        for (ItemPtr file : folder.GetItems(SharesTypes::sharedFile))
            file.Remove();
        folder.Remove();
    }

    // A peer dialled in whose link the messenger has taken.
    std::unique_ptr<FakePeer> Linked(const QString& user)
    {
        auto peer = Dial(user);
        ItemPtr userItem = ServerStore::User(user);
        if (!QTest::qWaitFor([&] { return userItem.IsConnected(PeerTypes::peerSocket); }, 5000))
            return nullptr;
        return peer;
    }

    static ItemPtr AddFile(ItemPtr folder, const Value& name, int size)
    {
        using namespace SharesTypes;
        ItemPtr file = folder.NewItem(sharedFile);
        file.Connect(d.GetType(sharedFileName)->GetItem(name));
        file.Connect(d.GetType(sharedFileSize)->GetItem(Value(size)));
        return file;
    }

    // Counts the "Shared" log lines that start with the text, until the sink is cleared.
    static void CountLogLines(int& count, const QString& start)
    {
        Settings::Set(LogSettings::showDiagnostics, "yes");
        SetLogSink([&count, start](const QString& area, int, const QString& text, ItemPtr) {
            count += area == "Shared" && text.startsWith(start);
        });
    }

    void sendsALargeAnswerCompressedOnAWorker()
    {
        using namespace SharesTypes;
        ItemPtr folder = AddPlenty();
        MemStream built;
        QVERIFY(shares->BuildSearchAnswer("carol", 8, "plenty", built));
        QVERIFY(built.GetWrittenLength() >= SharedFoldersManager::compressOnWorkerFrom);

        FakePeer asker;
        MessengerTestSetup::SetUserAddress("carol", asker.Listen());
        QVERIFY(shares->ProcessSearch("carol", 8, "plenty"));
        QVERIFY(shares->ProcessSearch("carol", 9, "song"));
        QVERIFY(asker.WaitForFrames(3));
        QCOMPARE(Inflated(asker.frames[2], 9),
                 QByteArray(built.GetWrittenData(), built.GetWrittenLength()));
        QVERIFY(Inflated(asker.frames[1], 9).contains("Song One.mp3"));

        // A flood of such searches: only so many large answers wait, the rest are not answered,
        // and once they have left, large answers are taken again.
        asker.frames.clear();
        const int waiting = SharedFoldersManager::maxLargeAnswersWaiting;
        for (int at = 0; at < waiting; ++at)
            QVERIFY(shares->ProcessSearch("carol", 20 + at, "plenty"));
        QVERIFY(!shares->ProcessSearch("carol", 30, "plenty"));
        QVERIFY(asker.WaitForFrames(waiting, 20000));
        QVERIFY(shares->ProcessSearch("carol", 31, "plenty"));
        QVERIFY(asker.WaitForFrames(waiting + 1, 20000));
        RemoveFolder(folder);
    }

    // A large answer for an asker with no link yet waits in the messenger's queue, whole, and
    // is dropped there on this thread; the worker that compressed it keeps no share of its
    // bytes (a ThreadSanitizer build checks that no count is touched from both threads).
    void queuesALargeAnswerForAnAskerWithoutALinkAndDropsIt()
    {
        ItemPtr folder = AddPlenty();
        MemStream built;
        QVERIFY(shares->BuildSearchAnswer("uma", 10, "plenty", built));
        MessengerTestSetup::SetUserAddress("uma", MessengerTestSetup::UnusedPort());
        ItemPtr uma = ServerStore::User("uma");
        QVERIFY(shares->ProcessSearch("uma", 10, "plenty"));
        QVERIFY(uma.GetItems(PeerTypes::unsentMessage).Empty());
        QTRY_VERIFY_WITH_TIMEOUT(!uma.GetItems(PeerTypes::unsentMessage).Empty(), 20000);
        const MemStream* queued =
            ItemPtr(uma.GetItems(PeerTypes::unsentMessage)).AsPointer<MemStream>();
        QCOMPARE(Inflated(QByteArray(queued->GetWrittenData(), queued->GetWrittenLength()), 9),
                 QByteArray(built.GetWrittenData(), built.GetWrittenLength()));
        messenger->EveryHalfMinuteAt(QDateTime::currentDateTime().addDays(1));
        QVERIFY(uma.GetItems(PeerTypes::unsentMessage).Empty());
        RemoveFolder(folder);
    }

    void sendsShareList()
    {
        auto peer = Dial("bob");
        peer->Send(4);
        QVERIFY(peer->WaitForFrames(1));
        QCOMPARE(Inflated(peer->frames[0], 5),
                 Fields(std::uint32_t(2), listedMusic.toStdString(), std::uint32_t(2)) +
                     Record("Song One.mp3", 5, "mp3") + Record("notes.txt", 3, "") +
                     Fields(listedLive.toStdString(), std::uint32_t(1)) +
                     Record("Song Two.ogg", 4, "") + Fields(std::uint32_t(0)));
    }

    void sendsFolderContentsOnlyForExactFolder()
    {
        auto peer = Dial("carol");
        peer->Send(36, std::uint32_t(41), listedLive.toLower());
        peer->Send(36, std::uint32_t(42), listedLive);
        QVERIFY(peer->WaitForFrames(1));
        QCOMPARE(
            Inflated(peer->frames[0], 37),
            Fields(std::uint32_t(42), listedLive, std::uint32_t(1), listedLive, std::uint32_t(1)) +
                Record("Song Two.ogg", 4, "") + Fields(std::uint32_t(0)));
    }

    // A burst of costly requests from one peer is handled a slice at a time, and another peer's
    // request is answered in between rather than after the whole burst.
    void servesOtherPeersDuringABurstOfRequests()
    {
        ItemPtr plenty = AddPlenty();
        const QString listedPlenty = QString(music + "/Plenty").replace('/', '\\');
        auto flooder = Linked("flooder");
        auto other = Linked("other");
        QVERIFY(flooder && other);
        QSignalSpy requests(messenger, &PeerMessenger::SharedFilesInFolderRequested);
        const auto handled = [&requests](const QString& user) {
            return int(
                std::count_if(requests.begin(), requests.end(), [&](const QVariantList& row) {
                    return row.at(0).toString() == user;
                }));
        };
        const int burst = 40;
        QByteArray frames;
        for (int at = 0; at < burst; ++at)
            frames += flooder->Frame(FakePeer::Body(36, std::uint32_t(at), listedPlenty));
        flooder->SendRaw(frames);
        QVERIFY(QTest::qWaitFor([&] { return handled("flooder") > 0; }, 10000));
        other->Send(36, std::uint32_t(99), listedLive);
        QVERIFY(other->WaitForFrames(1, 20000));
        QVERIFY2(handled("flooder") < burst, qPrintable(QString::number(handled("flooder"))));
        QVERIFY(Inflated(other->frames[0], 37).contains("Song Two.ogg"));
        QVERIFY(flooder->WaitForFrames(burst, 60000));
        RemoveFolder(plenty);
    }

    void reportsShareAndAsksOwnStatsAtLogin()
    {
        central->ClearMessages();
        emit server->Connected();
        QVERIFY(central->WaitForCode(36));
        QCOMPARE(central->MessagesWithCode(35).value(0).fields, Fields(qint32(2), qint32(3)));
        QCOMPARE(central->MessagesWithCode(36).first().fields, Fields(QString("me")));
    }

    void keepsOwnUploadSpeed_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("speed");
        QTest::newRow("own stats") << QString("me") << QString("0");
        QTest::newRow("another user's stats") << QString("dave") << QString("777");
    }

    void keepsOwnUploadSpeed()
    {
        QFETCH(QString, user);
        QFETCH(QString, speed);
        Settings::Set(SharesSettings::uploadSpeed, "777");
        UserStats stats;
        central->Send(36, user, stats);
        QVERIFY(ServerTestSetup::Settle(*server, *central));
        QCOMPARE(Settings::GetText(SharesSettings::uploadSpeed), speed);
    }

    void buildsShareListOncePerChange()
    {
        int builds = 0;
        CountLogLines(builds, "Built share list");
        QVERIFY(SharesTestSetup::WriteFile(music + "/added.txt", "xy"));
        shares->RescanShares();
        auto first = Dial("fay");
        auto second = Dial("gus");
        first->Send(4);
        second->Send(4);
        QVERIFY(first->WaitForFrames(1));
        QVERIFY(second->WaitForFrames(1));
        QCOMPARE(second->frames[0], first->frames[0]);
        QVERIFY(Inflated(first->frames[0], 5).contains("added.txt"));
        QCOMPARE(builds, 1);

        QVERIFY(QFile::remove(music + "/added.txt"));
        shares->RescanShares();
        first->Send(4);
        QVERIFY(first->WaitForFrames(2));
        QCOMPARE(builds, 2);
        QVERIFY(!Inflated(first->frames[1], 5).contains("added.txt"));
        SetLogSink({});
    }

    // A list is built over later passes and compressed on the worker: whoever asked meanwhile
    // gets it once, and it holds the shares as they are when it leaves, whether they changed
    // while it was gathered or while it was compressed.
    void sendsTheCurrentListOnceToEveryoneWhoAskedWhileItWasBuilt()
    {
        using namespace SharesTypes;
        int builds = 0;
        CountLogLines(builds, "Built share list");
        auto hal = Linked("hal");
        auto ivy = Linked("ivy");
        QVERIFY(hal && ivy);
        ItemPtr root = d.GetType(sharedFolder)->GetItem(Value(music));
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value(music));
        QVERIFY(root.IsConnected(folder));
        AddFile(folder, Value("clears the kept list.txt"), 7);
        QCOMPARE(shares->GetSharedFilesMessage("hal").GetWrittenLength(), 0);
        QCOMPARE(shares->GetSharedFilesMessage("hal").GetWrittenLength(), 0);
        QCOMPARE(shares->GetSharedFilesMessage("ivy").GetWrittenLength(), 0);
        // In a folder that was not there when the build started.
        ItemPtr later = d.GetType(sharedFileFolder)->GetItem(Value(music + "/Later"));
        root.Connect(later);
        ItemPtr late = AddFile(later, Value("late.txt"), 7);
        QVERIFY(hal->WaitForFrames(1) && ivy->WaitForFrames(1));
        QCOMPARE(ivy->frames[0], hal->frames[0]);
        QVERIFY(Inflated(hal->frames[0], 5).contains("late.txt"));
        QCOMPARE(builds, 1);

        // The worker is busy with a large answer, so the list is still compressing when the
        // shares change again.
        ItemPtr plenty = AddPlenty();
        MessengerTestSetup::SetUserAddress("carol", MessengerTestSetup::UnusedPort());
        QVERIFY(shares->ProcessSearch("carol", 60, "plenty"));
        QCOMPARE(shares->GetSharedFilesMessage("hal").GetWrittenLength(), 0);
        QCoreApplication::processEvents();
        late.Remove();
        QVERIFY(hal->WaitForFrames(2, 20000));
        const QByteArray list = Inflated(hal->frames[1], 5);
        QVERIFY(list.contains("plenty 1999") && !list.contains("late.txt"));
        QCOMPARE(builds, 2);
        QTest::qWait(100);
        QCOMPARE(hal->frames.size(), 2);
        QCOMPARE(ivy->frames.size(), 1);
        SetLogSink({});
        RemoveFolder(plenty);
        later.Remove();
        for (ItemPtr file : folder.GetItems(sharedFile))
            if (file[sharedFileName].AsString().startsWith("clears"))
                file.Remove();
    }

    // A user unshared while the list is built is answered as one asking now: with no folders.
    // One who hangs up meanwhile is not dialled back.
    void sendsTheListOnlyToAskersWhoStillSeeItsFolders()
    {
        using namespace SharesTypes;
        auto kim = Linked("kim");
        auto lee = Linked("lee");
        auto max = Linked("max");
        QVERIFY(kim && lee && max);
        ItemPtr(d.GetType(sharedFolder)->GetItem(Value(music)))
            .Connect(d.GetType(sharedFileFolder)->GetItem(Value(music + "/Changed")));
        const int unsent = MessengerTestSetup::Count(PeerTypes::unsentMessage);
        for (const char* user : {"kim", "lee", "max"})
            QCOMPARE(shares->GetSharedFilesMessage(user).GetWrittenLength(), 0);
        ItemPtr maxLink = ServerStore::User("max").GetItems(PeerTypes::peerSocket);
        messenger->DisposeOfSocket(maxLink.AsPointer<QTcpSocket>());
        QVERIFY(!ServerStore::User("max").IsConnected(PeerTypes::peerSocket));
        ItemPtr(ServerStore::User("lee")).NewItem(unshared);
        QVERIFY(kim->WaitForFrames(1) && lee->WaitForFrames(1));
        QVERIFY(Inflated(kim->frames[0], 5).contains("Song One.mp3"));
        QCOMPARE(Inflated(lee->frames[0], 5), Fields(std::uint32_t(0), std::uint32_t(0)));
        QCOMPARE(MessengerTestSetup::Count(PeerTypes::unsentMessage), unsent);
        ItemPtr(ServerStore::User("lee")).Disconnect(unshared);
        d.GetType(sharedFileFolder)->HasItem(Value(music + "/Changed"))->Remove();
    }

    // Users who see different roots get different lists, even where the roots' paths joined
    // one after the other would read alike.
    void keepsListsApartForRootsThatReadAlikeJoined()
    {
        using namespace SharesTypes;
        const auto share = [](const QString& path, const QString& file, ItemPtr group) {
            ItemPtr root = d.GetType(sharedFolder)->GetItem(Value(path));
            root.Connect(group);
            ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value(path));
            root.Connect(folder);
            AddFile(folder, Value(file), 1);
            return root;
        };
        const auto member = [](const QString& user, ItemPtr group) {
            ItemPtr listed = ServerStore::User(user).NewItem(ServerTypes::inUserList);
            listed.Disconnect(ServerTypes::userListGroup);
            listed.Connect(group);
        };
        ItemPtr one = d.GetType(ServerTypes::userListGroup)->GetItem("one");
        ItemPtr two = d.GetType(ServerTypes::userListGroup)->GetItem("two");
        const std::vector<ItemPtr> roots{share("/m/x\n/m/y", "only one.txt", one),
                                         share("/m/x", "two.txt", two),
                                         share("/m/y", "two.txt", two)};
        member("ola", one);
        member("pia", two);
        const auto listOf = [this](const char* user) {
            const MemStream message = shares->GetSharedFilesMessage(user);
            return Inflated(QByteArray(message.GetWrittenData(), message.GetWrittenLength()), 5);
        };
        QVERIFY(QTest::qWaitFor([&] { return listOf("ola").contains("only one.txt"); }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return listOf("pia").contains("two.txt"); }, 5000));
        QVERIFY(!listOf("pia").contains("only one.txt"));
        for (ItemPtr root : roots)
        {
            ItemPtr folder = root.GetItems(sharedFileFolder);
            RemoveFolder(folder);
            root.Remove();
        }
        for (const char* user : {"ola", "pia"})
            ItemPtr(ServerStore::User(user))[ServerTypes::inUserList].Remove();
    }

    // A list whose frame would pass what every receiver accepts is not sent, and said so once
    // until the shares change; the asker's link stays and other requests are still answered.
    void doesNotSendAListTooLargeForAFrame()
    {
        using namespace SharesTypes;
        int refusals = 0;
        CountLogLines(refusals, "Share list is too large");
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value(music + "/Noise"));
        ItemPtr(d.GetType(sharedFolder)->GetItem(Value(music))).Connect(folder);
        // Names of random bytes hardly compress: 64,000 of 200 bytes pass 10 MiB compressed.
        std::mt19937 random(3);
        for (int at = 0; at < 64000; ++at)
        {
            std::string name(200, ' ');
            for (char& byte : name)
                do
                    byte = char(0x20 + random() % 0xE0);
                while (byte == '/' || byte == '\\');
            AddFile(folder, Value(name), at);
        }
        auto jay = Linked("jay");
        QVERIFY(jay);
        jay->Send(4);
        QTRY_COMPARE_WITH_TIMEOUT(refusals, 1, 30000);
        // Built, though there is nothing to send: asking again builds nothing.
        QVERIFY(shares->IsShareListBuilt("jay"));
        jay->Send(4);
        jay->Send(36, std::uint32_t(43), listedLive);
        QVERIFY(jay->WaitForFrames(1));
        QVERIFY(Inflated(jay->frames[0], 37).startsWith(Fields(std::uint32_t(43), listedLive)));
        QTest::qWait(100);
        QCOMPARE(jay->frames.size(), 1);
        QCOMPARE(refusals, 1);
        QVERIFY(jay->IsConnected());

        RemoveFolder(folder);
        QVERIFY(!shares->IsShareListBuilt("jay"));
        jay->Send(4);
        QVERIFY(jay->WaitForFrames(2, 30000));
        QVERIFY(Inflated(jay->frames[1], 5).contains("Song One.mp3"));
        QCOMPARE(refusals, 1);
        SetLogSink({});
    }
};

QTEST_GUILESS_MAIN(SharesAnswersTest)
#include "tst_answers.moc"
