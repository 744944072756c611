#include <map>
#include <memory>

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
        QCOMPARE(userItem.IsConnected(peerSocket), !dropped);
        QCOMPARE(Count(unsentMessage), 0);
        if (!dropped)
            return;
        QTRY_COMPARE(stalled->state(), QAbstractSocket::UnconnectedState);
        // As for any lost link: the next message waits for a new one.
        messenger->SendMessage(user, message);
        QCOMPARE(userItem.GetItems(unsentMessage).Size(), size_t(1));
    }
};

QTEST_MAIN(MessengerLoadTest)
#include "tst_messenger_load.moc"
