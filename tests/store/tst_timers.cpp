#include <new>

#include <QtTest>

#include "DelayedInvoker.h"
#include "TimerManager.h"

namespace {
const QString kSort = QStringLiteral("1Sort()");
QStringList calls;
} // namespace

// Logs each call by object name, so tests can check which calls ran and in what order.
class Target : public QObject
{
    Q_OBJECT

public:
    explicit Target(const QString& name) { setObjectName(name); }

signals:
    void Sorted();

public slots:
    void Sort()
    {
        calls << objectName();
        emit Sorted();
    }
    void Refresh() { calls << objectName() + ".Refresh"; }
};

class TimersTest : public QObject
{
    Q_OBJECT

    DelayedInvoker* invoker = nullptr;

private slots:
    void init()
    {
        calls.clear();
        invoker = new DelayedInvoker;
    }
    void cleanup() { delete invoker; }

    void sharedTimersRepeatAtTheirIntervals()
    {
        TimerManager manager;
        QCOMPARE(timerManager, &manager);
        const QList<QPair<QTimer*, int>> timers = {{&manager.halfMinuteTimer, 30000},
                                                   {&manager.fiveMinuteTimer, 300000},
                                                   {&manager.hourTimer, 3600000}};
        for (const auto& [timer, interval] : timers)
        {
            QCOMPARE(timer->interval(), interval);
            QVERIFY(timer->isActive() && !timer->isSingleShot());
        }
        int ticks = 0;
        QObject::connect(&manager.hourTimer, &QTimer::timeout, [&ticks] { ++ticks; });
        QVERIFY(QMetaObject::invokeMethod(&manager.hourTimer, "timeout"));
        QVERIFY(QMetaObject::invokeMethod(&manager.hourTimer, "timeout"));
        QCOMPARE(ticks, 2);
    }

    void destroyedServicesAreNotReachable()
    {
        auto* first = new TimerManager;
        {
            TimerManager second;
            delete first;
            QCOMPARE(timerManager, &second);
        }
        QVERIFY(!timerManager);
        delete invoker;
        invoker = nullptr;
        QVERIFY(!delayedInvoker);
    }

    void collapsesRequestsAndKeepsFirstDeadline()
    {
        Target target("target"), marker("marker");
        invoker->Invoke(&target, kSort, 200);
        invoker->Invoke(&target, kSort, 20);
        // Were the deadline pushed back to 400 ms, the marker at 300 ms would come first.
        QTimer::singleShot(100, &marker, [&] {
            invoker->Invoke(&target, kSort, 300);
            invoker->Invoke(&marker, kSort, 200);
        });
        QCOMPARE(invoker->PendingCount(), 1);
        QTRY_COMPARE(calls, QStringList({"target", "marker"}));
        QCOMPARE(invoker->PendingCount(), 0);
    }

    void runsAgainWhenAskedAfterItFired()
    {
        Target target("target");
        invoker->Invoke(&target, kSort, 20);
        QTRY_COMPARE(calls.size(), 1);
        QVERIFY(!invoker->IsPending(&target, kSort));
        invoker->Invoke(&target, kSort, 20);
        QTRY_COMPARE(calls.size(), 2);
    }

    void acceptsRequestFromInsideTheSlot()
    {
        Target target("target");
        connect(&target, &Target::Sorted, [&] {
            if (calls.size() == 1)
                invoker->Invoke(&target, kSort, 20);
        });
        invoker->Invoke(&target, kSort, 20);
        QTRY_COMPARE(calls.size(), 2);
    }

    void keepsTargetsAndSlotsApart()
    {
        Target one("one"), two("two");
        invoker->Invoke(&one, kSort, 20);
        invoker->Invoke(&two, kSort, 20);
        invoker->Invoke(&one, "1Refresh()", 20);
        QCOMPARE(invoker->PendingCount(), 3);
        QTRY_COMPARE(calls.size(), 3);
        calls.sort();
        QCOMPARE(calls, QStringList({"one", "one.Refresh", "two"}));
        QCOMPARE(invoker->PendingCount(), 0);
    }

    void forgetsTargetDestroyedWhilePending()
    {
        Target marker("marker");
        alignas(Target) unsigned char storage[sizeof(Target)];
        auto* dead = new (storage) Target("dead");
        invoker->Invoke(dead, kSort, 20);
        dead->~Target();
        // A newcomer at the same address is called at its own deadline, not the dead one's.
        auto* reborn = new (storage) Target("reborn");
        invoker->Invoke(reborn, kSort, 150);
        invoker->Invoke(&marker, kSort, 75);
        QTRY_COMPARE(calls, QStringList({"marker", "reborn"}));
        QCOMPARE(invoker->PendingCount(), 0);
        reborn->~Target();
    }
};

QTEST_GUILESS_MAIN(TimersTest)
#include "tst_timers.moc"
