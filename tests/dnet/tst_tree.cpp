#include <memory>
#include <vector>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "DNetBytes.h"
#include "DNetManager.h"
#include "DNetState.h"
#include "DNetTypes.h"
#include "FakeCentralServer.h"
#include "FakePeer.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "Settings.h"

using namespace DNetBytes;
using MessengerTestSetup::Count;

class TreeTest : public QObject
{
    Q_OBJECT

private:
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    DNetManager* manager = nullptr;
    std::unique_ptr<FakeCentralServer> central;
    std::vector<std::unique_ptr<FakePeer>> peers;
    int nextName = 0;

    QString NewName() { return QString("peer%1").arg(++nextName); }

    FakePeer* NewPeer()
    {
        peers.push_back(std::make_unique<FakePeer>());
        return peers.back().get();
    }

    // A listening fake as the server lists it among possible parents.
    QByteArray ParentEntry(FakePeer* peer, const QString& name)
    {
        return ServerBytes::Fields(name, FakePeer::LoopbackAddress(), qint32(peer->Listen()));
    }

    // A fake parent, adopted with the level it announced (none when -1) and no group leader.
    FakePeer* AdoptParent(qint32 level = -1)
    {
        FakePeer* parent = NewPeer();
        central->SendRaw(ServerBytes::Message(102, ServerBytes::Fields(qint32(1)) +
                                                       ParentEntry(parent, NewName())));
        if (!QTest::qWaitFor([] { return Count(DNetTypes::dnetParentCandidate) == 1; }, 5000))
            return nullptr;
        if (level != -1)
            parent->SendRaw(Frame(Level(level)));
        parent->SendRaw(Frame(Search("asker", 1, "adopt me")));
        return QTest::qWaitFor([] { return DNetState::Has(DNetKeys::parentUser); }, 5000) ? parent
                                                                                          : nullptr;
    }

    // A fake child whose link the manager holds, with what adoption sent it already read.
    FakePeer* NewChild()
    {
        FakePeer* child = NewPeer();
        child->Dial(messenger->ListeningPort());
        child->SendFrame(FakePeer::InitBody(NewName(), "D"));
        const int expected = Count(DNetTypes::dnetChild) + 1;
        if (!QTest::qWaitFor([&] { return Count(DNetTypes::dnetChild) == expected; }, 5000))
            return nullptr;
        return child;
    }

    // Messages to the server arrive in order: once this one is there, all before it are too.
    bool ServerHasAllSentSoFar()
    {
        server->GetUserStats("barrier");
        return central->WaitForCode(36);
    }

    // The fields of the last message with the code that the server was sent.
    QByteArray Last(qint32 code)
    {
        const QList<ServerMessage> messages = central->MessagesWithCode(code);
        return messages.isEmpty() ? QByteArray("none") : messages.last().fields;
    }

private slots:
    void initTestCase()
    {
        central = std::make_unique<FakeCentralServer>();
        MessengerTestSetup::Build(server, messenger);
        Settings::Set("password", "pw");
        Settings::Set("availability_status", "available");
        QVERIFY(ServerTestSetup::LogIn(*server, *central));
        manager = new DNetManager;
    }

    void cleanup()
    {
        peers.clear();
        QTRY_VERIFY(!DNetState::Has(DNetKeys::parentUser));
        QTRY_COMPARE(Count(DNetTypes::dnetChild), 0);
        central->ClearMessages();
    }

    void cleanupTestCase()
    {
        delete manager;
        delete messenger;
        delete server;
    }

    void adoptsTheFirstCandidateToSearchAndRelaysItsPlace()
    {
        FakePeer* child = NewChild();
        QVERIFY(child);
        QSignalSpy searches(manager, &DNetManager::DNetSearchRequest);
        FakePeer* first = NewPeer();
        FakePeer* second = NewPeer();
        const QString firstName = NewName();
        central->SendRaw(ServerBytes::Message(
            102, ServerBytes::Fields(qint32(3)) + ParentEntry(first, firstName) +
                     ParentEntry(second, NewName()) + ParentEntry(first, firstName)));
        QTRY_COMPARE(Count(DNetTypes::dnetParentCandidate), 2);

        second->SendRaw(Frame(Level(9)));
        first->SendRaw(Frame(Level(5)) + Frame(Leader("abc")) + Frame(Search("ann", 77, "jazz")));
        QVERIFY(second->WaitForClose());
        // Its level plus one and its leader go down before the search it relayed.
        QTRY_COMPARE(child->received,
                     Frame(Level(6)) + Frame(Leader("abc")) + Frame(Search("ann", 77, "jazz")));
        QCOMPARE(QList<QVariantList>(searches),
                 (QList<QVariantList>{{QString("ann"), 77u, QString("jazz")}}));
        QCOMPARE(DNetState::Text(DNetKeys::parentUser), firstName);
        QCOMPARE(Count(DNetTypes::dnetParentCandidate), 0);

        QVERIFY(ServerHasAllSentSoFar());
        // One relayed link request per user tried: the repeated name was skipped.
        QCOMPARE(central->MessagesWithCode(18).size(), 2);
        QCOMPARE(Last(126), ServerBytes::Fields(qint32(6)));
        QCOMPARE(Last(127), ServerBytes::Fields(QString("abc")));
        // The server's flag says "still looking for a parent".
        QCOMPARE(Last(71), QByteArray(1, '\0'));

        // A new login reports the place again, and no child depth while none is known.
        central->ClearMessages();
        manager->OnConnected();
        QVERIFY(ServerHasAllSentSoFar());
        QCOMPARE(Last(126), ServerBytes::Fields(qint32(6)));
        QCOMPARE(Last(127), ServerBytes::Fields(QString("abc")));
        QCOMPARE(Last(71), QByteArray(1, '\0'));
        QCOMPARE(central->MessagesWithCode(129).size(), 0);
    }

    void relaysWhatComesDown_data()
    {
        QTest::addColumn<bool>("fromServer");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("relayed");
        QTest::addColumn<bool>("answered");
        const QByteArray search = Search("bob", 5, "blues");
        const QByteArray other = Message(3, quint32(50)) + "tail";
        QTest::newRow("search from the server") << true << search << search << true;
        QTest::newRow("bytes after the query")
            << false << search + "\x01\x02" << search + "\x01\x02" << true;
        QTest::newRow("other inner code, relayed only") << false << other << other << false;
        QTest::newRow("level 7 from the parent") << false << Level(7) << Level(8) << false;
        QTest::newRow("level from the server, dropped")
            << true << Level(7) << QByteArray() << false;
        QTest::newRow("leader from the parent") << false << Leader("zed") << Leader("zed") << false;
        QTest::newRow("unknown code, dropped")
            << false << Message(9, qint32(1)) << QByteArray() << false;
    }

    void relaysWhatComesDown()
    {
        QFETCH(bool, fromServer);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, relayed);
        QFETCH(bool, answered);
        FakePeer* parent = AdoptParent();
        FakePeer* child = parent ? NewChild() : nullptr;
        QVERIFY(child && child->WaitForFrames(1));
        child->received.clear();
        QSignalSpy searches(manager, &DNetManager::DNetSearchRequest);

        if (fromServer)
        {
            central->SendRaw(ServerBytes::Message(93, message));
            QVERIFY(ServerTestSetup::Settle(*server, *central));
        }
        else
            parent->SendRaw(Frame(message));
        const QByteArray marker = Message(3, quint32(50)) + "end";
        parent->SendRaw(Frame(marker));
        QTRY_VERIFY(child->received.endsWith(Frame(marker)));
        QCOMPARE(child->received,
                 (relayed.isEmpty() ? QByteArray() : Frame(relayed)) + Frame(marker));
        QCOMPARE(searches.size(), answered ? 1 : 0);
        QVERIFY(parent->IsConnected());
    }

    // A burst of searches from the parent, each costly to answer, is handled a slice at a time:
    // the window's other work runs before the burst is through, and every search is handled.
    void handlesABurstOfSearchesOverSeveralPasses()
    {
        FakePeer* parent = AdoptParent();
        QVERIFY(parent);
        int handled = 0;
        int handledWhenOtherWorkRan = -1;
        QObject scope;
        const auto costly = connect(manager, &DNetManager::DNetSearchRequest, &scope, [&] {
            if (handled++ == 0)
                QTimer::singleShot(0, &scope, [&] { handledWhenOtherWorkRan = handled; });
            QElapsedTimer busy;
            busy.start();
            while (busy.elapsed() < 2)
                ;
        });
        const int burst = 100;
        QByteArray frames;
        for (int at = 0; at < burst; ++at)
            frames += Frame(Search("asker", quint32(at), "burst"));
        parent->SendRaw(frames);
        QVERIFY(QTest::qWaitFor([&] { return handled == burst; }, 20000));
        disconnect(costly);
        QTRY_VERIFY(handledWhenOtherWorkRan != -1);
        QVERIFY2(handledWhenOtherWorkRan > 0 && handledWhenOtherWorkRan < burst,
                 qPrintable(QString::number(handledWhenOtherWorkRan)));
        QVERIFY(parent->IsConnected());
    }

    void losesTheParentOnABadFrameOrSilence_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // none: silent for the seconds instead
        QTest::addColumn<int>("silentSeconds");
        QTest::addColumn<bool>("lost");
        QTest::newRow("frame over 10 MiB") << QByteArray::fromHex("0100a000") + "xx" << 0 << true;
        QTest::newRow("empty frame") << Frame(QByteArray()) << 0 << true;
        QTest::newRow("query cut short")
            << Frame(Search("bob", 5, "blues").chopped(2)) << 0 << true;
        QTest::newRow("silent 60 seconds") << QByteArray() << 60 << false;
        QTest::newRow("silent 61 seconds") << QByteArray() << 61 << true;
    }

    void losesTheParentOnABadFrameOrSilence()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, silentSeconds);
        QFETCH(bool, lost);
        FakePeer* parent = AdoptParent(3);
        QVERIFY(parent && DNetState::Has(DNetKeys::level));
        central->ClearMessages();
        if (bytes.isEmpty())
            manager->CheckParentSilence(QDateTime::currentDateTime().addSecs(silentSeconds));
        else
            parent->SendRaw(bytes);
        QTRY_COMPARE(DNetState::Has(DNetKeys::parentUser), !lost);
        if (!lost)
            return;
        QVERIFY(parent->WaitForClose());
        QVERIFY(ServerHasAllSentSoFar());
        QCOMPARE(Last(71), QByteArray(1, '\1'));
        QCOMPARE(Last(126), ServerBytes::Fields(qint32(-1)));
        QCOMPARE(Last(127), ServerBytes::Fields(QString("")));
    }
};

QTEST_MAIN(TreeTest)
#include "tst_tree.moc"
