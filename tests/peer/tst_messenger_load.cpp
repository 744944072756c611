#include <map>
#include <memory>
#include <vector>

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include "CompressedBody.h"
#include "Data.h"
#include "FakePeer.h"
#include "MessengerTestSetup.h"
#include "PeerFrame.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerStore.h"
#include "ServerTypes.h"
#include "ShareListBody.h"
#include "SharesProvider.h"

using namespace PeerTypes;
using MessengerTestSetup::Count;

namespace {
// A share list that deflate cannot shrink, so that it stays as large on the wire; each build is
// counted per user.
class CountingShares : public SharesProvider
{
public:
    MemStream GetSharedFilesMessage(const QString& user) override
    {
        ++builds[user];
        MemStream message;
        message.Write(std::uint32_t(5));
        message.WriteBuffer(list.constData(), static_cast<unsigned long>(list.size()));
        return message;
    }

    QByteArray list;
    std::map<QString, int> builds;
};

QByteArray RandomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char& byte : bytes)
        byte = char(generator.generate());
    return bytes;
}

// A peer that opens a messaging link and then never reads what it is sent.
std::unique_ptr<QTcpSocket> StalledPeer(quint16 port, const QString& user)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->setReadBufferSize(1);
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    socket->write(FakePeer::Frame(false, FakePeer::InitBody(user, "P")));
    ItemPtr userItem = ServerStore::User(user);
    if (!QTest::qWaitFor([&] { return userItem.IsConnected(peerSocket); }, 5000))
        return nullptr;
    return socket;
}

// A share-list message of one folder with one file.
QByteArray ShareList()
{
    ShareListBody list;
    FileInfo file;
    file.name = "song.ogg";
    file.size = 3;
    list.folders["\\music"].insert(file);
    MemStream body;
    MemStream message;
    list.Write(body);
    CompressedBody::Compress(5, body, message);
    return QByteArray(message.GetWrittenData(), message.GetWrittenLength());
}
} // namespace

class MessengerLoadTest : public QObject
{
    Q_OBJECT

private:
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    CountingShares shares;
    int nextUser = 0;

    QString NewUser() { return QString("load%1").arg(++nextUser); }

    // As for any lost link: its item is gone at once, the peer sees the end, and the next message
    // waits for a new link instead of going into the old one.
    void VerifyLinkLost(const QString& user, QTcpSocket& peer, MemStream& message)
    {
        ItemPtr userItem = ServerStore::User(user);
        QVERIFY(!userItem.IsConnected(peerSocket));
        messenger->SendMessage(user, message);
        QCOMPARE(userItem.GetItems(unsentMessage).Size(), size_t(1));
        QTRY_COMPARE(peer.state(), QAbstractSocket::UnconnectedState);
    }

private slots:
    void initTestCase()
    {
        MessengerTestSetup::Build(server, messenger);
        messenger->SetSharesProvider(&shares);
        // Close to the frame limit, so that the system's socket buffers cannot take many.
        shares.list = RandomBytes(8 * 1024 * 1024);
    }

    void cleanupTestCase()
    {
        delete messenger;
        delete server;
    }

    void peerThatDoesNotReadGetsNoMoreShareLists()
    {
        const QString user = NewUser();
        auto stalled = StalledPeer(messenger->ListeningPort(), user);
        QVERIFY(stalled);
        QSignalSpy infoRequests(messenger, &PeerMessenger::UserInfoRequested);
        QByteArray requests;
        for (int request = 0; request < 1000; ++request)
            requests += FakePeer::Frame(false, FakePeer::Body(4));
        // Read after the share-list requests: once it is seen, all of them were.
        requests += FakePeer::Frame(false, FakePeer::Body(15));
        stalled->write(requests);
        QVERIFY(infoRequests.wait());

        QVERIFY(shares.builds[user] >= 1);
        QVERIFY(shares.builds[user] <= 3);
        QVERIFY(ServerStore::User(user).IsConnected(peerSocket));

        // Another peer is answered meanwhile, with the whole list.
        FakePeer other;
        other.Dial(messenger->ListeningPort());
        other.SendFrame(FakePeer::InitBody(NewUser(), "P"));
        other.Send(4);
        QVERIFY(other.WaitForFrames(1, 20000));
        QCOMPARE(other.frames[0], FakePeer::Body(5) + shares.list);
    }

    void takesAShareListOnlyWhileAsked()
    {
        QStringList lists;
        QObject receiver;
        connect(messenger, &PeerMessenger::UserShare, &receiver,
                [&](QString user, FileInfoMap& folders, AttributeTranslationTable&) {
                    lists << QString("%1:%2").arg(user).arg(folders.size());
                });
        QSignalSpy barrier(messenger, &PeerMessenger::UserInfoRequested);
        const QString user = NewUser();
        FakePeer peer;
        peer.Dial(messenger->ListeningPort());
        peer.SendFrame(FakePeer::InitBody(user, "P"));
        peer.SendFrame(ShareList());
        peer.Send(15);
        QVERIFY(barrier.wait());
        QCOMPARE(lists, QStringList());

        messenger->GetUserSharedFiles(user);
        QVERIFY(peer.WaitForFrames(1));
        QCOMPARE(peer.frames[0], FakePeer::Body(4));
        // Only the first answer is taken; the second was not asked for.
        peer.SendFrame(ShareList());
        peer.SendFrame(ShareList());
        peer.Send(15);
        QVERIFY(barrier.wait());
        QCOMPARE(lists, QStringList{user + ":1"});
        QVERIFY(peer.IsConnected());
    }

    void closesAFileLinkThatSendsNoRequestNumber_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("closed");
        QTest::newRow("59 s") << 59 << false;
        QTest::newRow("61 s") << 61 << true;
    }

    void closesAFileLinkThatSendsNoRequestNumber()
    {
        QFETCH(int, seconds);
        QFETCH(bool, closed);
        QSignalSpy fileLinks(messenger, &PeerMessenger::FileConnectionRequested);
        const QDateTime since = QDateTime::currentDateTime();
        FakePeer peer;
        peer.Dial(messenger->ListeningPort());
        QTRY_COMPARE(Count(uninitializedSocket), 1);
        peer.SendFrame(FakePeer::InitBody(NewUser(), "F"));
        QTRY_COMPARE(Count(uninitializedSocket), 0);
        messenger->EveryHalfMinuteAt(since.addSecs(seconds));
        QCOMPARE(peer.WaitForClose(closed ? 5000 : 0), closed);
        if (closed)
            return;
        // Still waiting: the number, when it comes, hands the link over.
        peer.SendRaw(QByteArray::fromHex("07000000"));
        QVERIFY(fileLinks.wait());
        QCOMPARE(fileLinks.at(0).at(2).toUInt(), 7u);
        fileLinks.at(0).at(1).value<QTcpSocket*>()->deleteLater();
    }

    void newLinkPushesOutTheOneIdleLongest()
    {
        QTRY_COMPARE(Count(uninitializedSocket) + Count(peerSocket), 0);
        messenger->SetMaxOpenLinksForTesting(3);
        std::vector<std::unique_ptr<FakePeer>> peers;
        const QDateTime now = QDateTime::currentDateTime();
        // Idle for 50 s, 100 s and 10 s.
        for (int idle : {50, 100, 10})
        {
            const QString user = NewUser();
            peers.push_back(std::make_unique<FakePeer>());
            peers.back()->Dial(messenger->ListeningPort());
            peers.back()->SendFrame(FakePeer::InitBody(user, "P"));
            ItemPtr userItem = ServerStore::User(user);
            QTRY_VERIFY(userItem.IsConnected(peerSocket));
            *PeerMessenger::ActivityClock(userItem.GetItems(peerSocket)) = now.addSecs(-idle);
        }
        // A silent link goes before any that talked, then the messaging link idle longest.
        FakePeer silent;
        silent.Dial(messenger->ListeningPort());
        QVERIFY(peers[1]->WaitForClose());
        FakePeer next;
        next.Dial(messenger->ListeningPort());
        QVERIFY(silent.WaitForClose());
        QVERIFY(peers[0]->IsConnected());
        QVERIFY(peers[2]->IsConnected());
        next.SendFrame(FakePeer::InitBody(NewUser(), "P"));
        QTRY_COMPARE(Count(peerSocket), 3);
        messenger->SetMaxOpenLinksForTesting(PeerMessenger::maxOpenLinks);
    }

    void idleLinkWithUnsentBytesIsGoneAtOnce()
    {
        const QString user = NewUser();
        auto stalled = StalledPeer(messenger->ListeningPort(), user);
        QVERIFY(stalled);
        ItemPtr userItem = ServerStore::User(user);
        MemStream message;
        message.Write(std::uint32_t(15));
        message.WriteBuffer(shares.list.constData(), 1024 * 1024);
        messenger->SendMessage(user, message);
        const QDateTime idleSince = *PeerMessenger::ActivityClock(userItem.GetItems(peerSocket));
        messenger->EveryHalfMinuteAt(idleSince.addSecs(120));
        VerifyLinkLost(user, *stalled, message);
    }

    void answersToUnknownAskersStayWithinTheBudget_data()
    {
        QTest::addColumn<int>("askers");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("queued");
        QTest::newRow("by count") << 20000 << 64 << PeerMessenger::unsentMessagesInAll;
        QTest::newRow("by bytes") << 9 << 8 * 1024 * 1024 << 8;
    }

    void answersToUnknownAskersStayWithinTheBudget()
    {
        QFETCH(int, askers);
        QFETCH(int, size);
        QFETCH(int, queued);
        const QDateTime now = QDateTime::currentDateTime();
        // Earlier tests' messages go first.
        messenger->EveryHalfMinuteAt(now.addSecs(600));
        QCOMPARE(Count(unsentMessage), 0);
        Type* users = d.GetType(ServerTypes::user);
        const auto asker = [&](int index) -> ItemPtr {
            return users->HasItem(Value(QString("asker%1").arg(index)));
        };
        MemStream answer;
        answer.Write(std::uint32_t(9));
        answer.WriteBuffer(shares.list.constData(), static_cast<unsigned long>(size - 4));
        for (int index = 0; index < askers; ++index)
        {
            messenger->SendMessage(QString("asker%1").arg(index), answer);
            // One asker becomes known to another part of the program meanwhile.
            if (index == 0)
                asker(0).NewItem(ServerTypes::isPrivileged);
        }
        QCOMPARE(Count(unsentMessage), queued);
        QVERIFY(!asker(queued - 1).IsNull());
        QVERIFY(asker(queued).IsNull());
        QVERIFY(asker(askers - 1).IsNull());

        // Counted from the last message: under load the loop may take seconds.
        messenger->EveryHalfMinuteAt(QDateTime::currentDateTime().addSecs(301));
        QCOMPARE(Count(unsentMessage), 0);
        QVERIFY(!asker(0).IsNull());
        QVERIFY(asker(1).IsNull());
        QVERIFY(asker(queued - 1).IsNull());
        asker(0).Remove();
    }

    void dropsALinkPastTheLimitOfUnsentBytes_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("at the limit") << 16 << false;
        QTest::newRow("one frame past it") << 17 << true;
    }

    void dropsALinkPastTheLimitOfUnsentBytes()
    {
        QFETCH(int, frames);
        QFETCH(bool, dropped);
        const QString user = NewUser();
        auto stalled = StalledPeer(messenger->ListeningPort(), user);
        QVERIFY(stalled);
        ItemPtr userItem = ServerStore::User(user);
        // Each frame, with its 4-byte length, is one sixteenth of the limit.
        MemStream message;
        message.Write(std::uint32_t(15));
        const QByteArray filler(int(PeerFrame::MaxBytesWaiting / 16) - 8, 'x');
        message.WriteBuffer(filler.constData(), static_cast<unsigned long>(filler.size()));
        // Sent in one pass of the event loop, so that none of it reaches the system meanwhile.
        for (int sent = 0; sent < frames; ++sent)
            messenger->SendMessage(user, message);
        QVERIFY(userItem.GetItems(unsentMessage).Empty());
        if (dropped)
            VerifyLinkLost(user, *stalled, message);
        else
            QVERIFY(userItem.IsConnected(peerSocket));
    }
};

QTEST_MAIN(MessengerLoadTest)
#include "tst_messenger_load.moc"
