#include <new>

#include <QtTest>

#include "DelayedInvoker.h"
#include "TimerManager.h"

const QString kSort = QStringLiteral("1Sort()");
static QStringList calls;

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

    DelayedInvoker invoker;

private slots:
    void init() { calls.clear(); }

    void sharedTimersRepeatAndGlobalsClearOnDestruction()
    {
        auto* first = new TimerManager;
        auto* timers = new TimerManager;
        delete first;
        QCOMPARE(timerManager, timers);
        const QList<QPair<QTimer*, int>> intervals = {{&timers->halfMinuteTimer, 30000},
                                                      {&timers->fiveMinuteTimer, 300000},
                                                      {&timers->hourTimer, 3600000}};
        for (const auto& [timer, interval] : intervals)
            QCOMPARE(timer->isActive() && !timer->isSingleShot() ? timer->interval() : 0, interval);
        delete timers;
        QVERIFY(!timerManager);
        delete new DelayedInvoker;
        QVERIFY(!delayedInvoker);
    }

    void collapsesRequestsKeepingFirstDeadlinePerTargetAndSlot()
    {
        Target target("target"), marker("marker");
        invoker.Invoke(&target, kSort, 200);
        invoker.Invoke(&target, kSort, 20);
        invoker.Invoke(&target, "1Refresh()", 50);
        // Were the deadline pushed back to 400 ms, the marker at 300 ms would come first.
        QTimer::singleShot(100, &marker, [&] {
            invoker.Invoke(&target, kSort, 300);
            invoker.Invoke(&marker, kSort, 200);
        });
        QCOMPARE(invoker.PendingCount(), 2);
        QTRY_COMPARE(calls, QStringList({"target.Refresh", "target", "marker"}));
        QCOMPARE(invoker.PendingCount(), 0);
    }

    void runsAgainWhenAskedFromItsOwnSlot()
    {
        Target target("target");
        connect(&target, &Target::Sorted, [&] {
            if (calls.size() == 1)
                invoker.Invoke(&target, kSort, 20);
        });
        invoker.Invoke(&target, kSort, 20);
        QTRY_COMPARE(calls.size(), 2);
        QVERIFY(!invoker.IsPending(&target, kSort));
    }

    void forgetsTargetDestroyedWhilePending()
    {
        Target marker("marker");
        alignas(Target) unsigned char storage[sizeof(Target)];
        auto* dead = new (storage) Target("dead");
        invoker.Invoke(dead, kSort, 20);
        dead->~Target();
        // A newcomer at the same address is called at its own deadline, not the dead one's.
        auto* reborn = new (storage) Target("reborn");
        invoker.Invoke(reborn, kSort, 150);
        invoker.Invoke(&marker, kSort, 75);
        QTRY_COMPARE(calls, QStringList({"marker", "reborn"}));
        reborn->~Target();
    }
};

QTEST_GUILESS_MAIN(TimersTest)
#include "tst_timers.moc"
