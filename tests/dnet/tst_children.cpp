#include <map>
#include <memory>

#include <QTest>

#include "DNetBytes.h"
#include "DNetManager.h"
#include "DNetState.h"
#include "DNetTypes.h"
#include "Data.h"
#include "FakeCentralServer.h"
#include "FakePeer.h"
#include "MessengerTestSetup.h"
#include "PeerFrame.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "ServerStore.h"
#include "ServerTestSetup.h"
#include "Settings.h"

using namespace DNetBytes;
using MessengerTestSetup::Count;

// Each test row gets a manager of its own, so that the can-parent status starts afresh.
class ChildrenTest : public QObject
{
    Q_OBJECT

private:
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    DNetManager* manager = nullptr;
    std::unique_ptr<FakeCentralServer> central;
    std::map<QString, std::unique_ptr<FakePeer>> children;

    FakePeer* Child(const QString& name)
    {
        auto& child = children[name];
        if (child)
            return child.get();
        child = std::make_unique<FakePeer>();
        child->Dial(messenger->ListeningPort());
        child->SendFrame(FakePeer::InitBody(name, "D"));
        ItemPtr user = ServerStore::User(name);
        const auto taken = [&] { return user.IsConnected(DNetTypes::dnetChild); };
        return QTest::qWaitFor(taken, 5000) ? child.get() : nullptr;
    }

    // The one-byte flags the server was sent with the code, in order.
    QList<int> Flags(qint32 code)
    {
        server->GetUserStats("barrier");
        if (!central->WaitForCode(36))
            return {-1};
        QList<int> flags;
        for (const ServerMessage& message : central->MessagesWithCode(code))
            flags << int(message.fields.at(0));
        return flags;
    }

private slots:
    void initTestCase()
    {
        central = std::make_unique<FakeCentralServer>();
        MessengerTestSetup::Build(server, messenger);
        Settings::Set("password", "pw");
        Settings::Set("availability_status", "available");
        QVERIFY(ServerTestSetup::LogIn(*server, *central));
    }

    void init()
    {
        manager = new DNetManager;
        central->ClearMessages();
    }

    void cleanup()
    {
        children.clear();
        delete manager;
        for (const char* key : {DNetKeys::childDepth, DNetKeys::level, DNetKeys::groupLeader})
            DNetState::Clear(key);
    }

    void cleanupTestCase()
    {
        delete messenger;
        delete server;
    }

    void keepsTheChildDepth_data()
    {
        QTest::addColumn<QStringList>("reports"); // child:depth, in the order sent
        QTest::addColumn<QString>("depth");
        QTest::addColumn<QList<int>>("sent");
        QTest::newRow("depths 0 and 2") << QStringList{"a:0", "b:2"} << "3" << QList<int>{1, 1};
        QTest::newRow("back to -1") << QStringList{"a:0", "a:-1"} << "" << QList<int>{1, 0};
        QTest::newRow("negative adds nothing") << QStringList{"a:-5"} << "" << QList<int>{};
        QTest::newRow("largest depth")
            << QStringList{"a:2147483647"} << "2147483648" << QList<int>{1};
    }

    void keepsTheChildDepth()
    {
        QFETCH(QStringList, reports);
        QFETCH(QString, depth);
        QFETCH(QList<int>, sent);
        for (const QString& report : reports)
        {
            const QString name = report.section(':', 0, 0);
            const int value = report.section(':', 1).toInt();
            QVERIFY(Child(name));
            Child(name)->SendRaw(Frame(ChildDepth(value)));
            ItemPtr record = ServerStore::User(name)[DNetTypes::dnetChild];
            QTRY_COMPARE(record[DNetTypes::dnetChildDepth].AsString(), QString::number(value));
        }
        QCOMPARE(DNetState::Text(DNetKeys::childDepth), depth);
        QCOMPARE(Flags(129), sent);
    }

    void secondLinkOfAChildReplacesTheFirst()
    {
        DNetState::Set(DNetKeys::level, Value(4));
        DNetState::Set(DNetKeys::groupLeader, Value("lead"));
        FakePeer* first = Child("kid");
        QVERIFY(first);
        FakePeer second;
        second.Dial(messenger->ListeningPort());
        second.SendFrame(FakePeer::InitBody("kid", "D"));
        QVERIFY(first->WaitForClose());
        QVERIFY(second.WaitForFrames(2));
        QCOMPARE(second.received, Frame(Level(4)) + Frame(Leader("lead")));
        QCOMPARE(Count(DNetTypes::dnetChild), 1);
        // The record names the live link: its depth report is taken.
        second.SendRaw(Frame(ChildDepth(1)));
        QTRY_COMPARE(DNetState::Text(DNetKeys::childDepth), QString("2"));
    }

    void dropsAChildThatStopsReading_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("at the limit") << 16 << false;
        QTest::newRow("one frame past it") << 17 << true;
    }

    void dropsAChildThatStopsReading()
    {
        QFETCH(int, frames);
        QFETCH(bool, dropped);
        QTcpSocket stalled;
        stalled.setReadBufferSize(1);
        stalled.connectToHost(QHostAddress::LocalHost, messenger->ListeningPort());
        QVERIFY(stalled.waitForConnected(5000));
        stalled.write(FakePeer::Frame(false, FakePeer::InitBody("slow", "D")));
        ItemPtr user = ServerStore::User("slow");
        QTRY_VERIFY(user.IsConnected(DNetTypes::dnetChild));
        // Each frame, with its 4-byte length, is one sixteenth of the limit; all go out in one
        // pass of the event loop, so none of it reaches the system meanwhile.
        const QByteArray search =
            Search("asker", 1, "words") +
            QByteArray(
                int(PeerFrame::MaxBytesWaiting / 16) - 4 - Search("asker", 1, "words").size(), 'x');
        for (int sent = 0; sent < frames; ++sent)
        {
            MemStream message;
            message.WriteBuffer(search.constData(), static_cast<unsigned long>(search.size()));
            manager->SendMessageToChildren(message);
        }
        QCOMPARE(user.IsConnected(DNetTypes::dnetChild), !dropped);
        if (dropped)
            QTRY_COMPARE(stalled.state(), QAbstractSocket::UnconnectedState);
    }

    void decidesWhetherItCanParent_data()
    {
        QTest::addColumn<qint64>("speed");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("ratio");
        QTest::addColumn<int>("childCount");
        QTest::addColumn<QList<int>>("sent");
        QTest::newRow("capacity 20, 19 children")
            << qint64(102400) << 50 << 50 << 19 << QList<int>{1};
        QTest::newRow("capacity 20, 20 children")
            << qint64(102400) << 50 << 50 << 20 << QList<int>{};
        QTest::newRow("speed exactly the minimum")
            << qint64(51200) << 50 << 1 << 0 << QList<int>{1};
        QTest::newRow("below the minimum") << qint64(51199) << 50 << 1 << 0 << QList<int>{};
        QTest::newRow("ratio 0") << qint64(102400) << 50 << 0 << 0 << QList<int>{};
        QTest::newRow("minimum times 1024 past 32 bits")
            << qint64(102400) << 2100000 << 1 << 0 << QList<int>{};
        QTest::newRow("speed times 10 past 32 bits")
            << qint64(300000000) << 1 << 1 << 0 << QList<int>{1};
    }

    void decidesWhetherItCanParent()
    {
        QFETCH(qint64, speed);
        QFETCH(int, minimum);
        QFETCH(int, ratio);
        QFETCH(int, childCount);
        QFETCH(QList<int>, sent);
        for (int i = 1; i <= childCount; ++i)
            d.GetType(DNetTypes::dnetChild)->GetItem(Value(i));
        Settings::Set("upload_speed", Value(static_cast<long long>(speed)));
        manager->OnDNetParentMinSpeed(minimum);
        manager->OnDNetParentSpeedConnectionRatio(ratio);
        QCOMPARE(Flags(100), sent);
    }

    void dropsSurplusChildrenAtTheirTimeOut_data()
    {
        QTest::addColumn<bool>("capacityKnown");
        QTest::addColumn<qint64>("speed"); // capacity 2 at 1024, none below it
        QTest::addColumn<int>("childCount");
        QTest::addColumn<bool>("firstLeaves");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("within capacity")
            << true << qint64(1024) << 2 << false << 61 << QStringList{"c0", "c1"};
        QTest::newRow("one beyond, before its time-out")
            << true << qint64(1024) << 3 << false << 59 << QStringList{"c0", "c1", "c2"};
        QTest::newRow("one beyond, at its time-out")
            << true << qint64(1024) << 3 << false << 61 << QStringList{"c0", "c1"};
        QTest::newRow("capacity not known yet")
            << false << qint64(1024) << 3 << false << 61 << QStringList{"c0", "c1", "c2"};
        QTest::newRow("below the minimum speed")
            << true << qint64(1023) << 2 << false << 61 << QStringList{};
        QTest::newRow("an older child left")
            << true << qint64(1024) << 3 << true << 61 << QStringList{"c1", "c2"};
    }

    void dropsSurplusChildrenAtTheirTimeOut()
    {
        QFETCH(bool, capacityKnown);
        QFETCH(qint64, speed);
        QFETCH(int, childCount);
        QFETCH(bool, firstLeaves);
        QFETCH(int, seconds);
        QFETCH(QStringList, kept);
        QStringList names;
        for (int at = 0; at < childCount; ++at)
        {
            names << QString("c%1").arg(at);
            QVERIFY(Child(names.last()));
        }
        Settings::Set("upload_speed", Value(static_cast<long long>(speed)));
        if (capacityKnown)
        {
            manager->OnDNetParentMinSpeed(1);
            manager->OnDNetParentSpeedConnectionRatio(5);
        }
        if (firstLeaves)
        {
            Child("c0")->Close();
            QTRY_VERIFY(!ServerStore::User("c0").IsConnected(DNetTypes::dnetChild));
            names.removeFirst();
        }
        manager->CheckSurplusChildren(QDateTime::currentDateTime().addSecs(seconds));
        QStringList recorded;
        for (const QString& name : names)
            if (ServerStore::User(name).IsConnected(DNetTypes::dnetChild))
                recorded << name;
        QCOMPARE(recorded, kept);
        for (const QString& name : names)
            if (!kept.contains(name))
                QVERIFY2(Child(name)->WaitForClose(), qPrintable(name));
        QCOMPARE(Count(DNetTypes::dnetChild), kept.size());
    }
};

QTEST_MAIN(ChildrenTest)
#include "tst_children.moc"
