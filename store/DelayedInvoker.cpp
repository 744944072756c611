#include "DelayedInvoker.h"

#include <QTimer>

DelayedInvoker* delayedInvoker = nullptr;

bool DelayedInvoker::CallOrder::operator()(const Call& a, const Call& b) const
{
    const auto left = reinterpret_cast<quintptr>(a.first);
    const auto right = reinterpret_cast<quintptr>(b.first);
    if (left != right)
        return left < right;
    return a.second < b.second;
}

DelayedInvoker::DelayedInvoker(QObject* parent) : QObject(parent)
{
    delayedInvoker = this;
}

DelayedInvoker::~DelayedInvoker()
{
    if (delayedInvoker == this)
        delayedInvoker = nullptr;
}

void DelayedInvoker::Invoke(QObject* target, const QString& slot, int ms)
{
    if (!target || timersByCall.count({target, slot}))
        return;

    auto* timer = new QTimer(this);
    // Bookkeeping is connected first so it runs before the target's slot, which may then
    // ask for the same call again.
    connect(timer, &QTimer::timeout, this, &DelayedInvoker::OnTimeout);
    if (!connect(timer, SIGNAL(timeout()), target, slot.toLatin1().constData()))
    {
        delete timer;
        return;
    }
    // A dead target's address can be reused by a new object; its record must not make the
    // newcomer's requests look pending. The timer as context drops this hook with the call.
    connect(target, &QObject::destroyed, timer, [this, timer] { Forget(timer); });
    timer->setInterval(ms);
    timer->setSingleShot(true);
    timersByCall[{target, slot}] = timer;
    callsByTimer[timer] = {target, slot};
    timer->start();
}

bool DelayedInvoker::IsPending(const QObject* target, const QString& slot) const
{
    return timersByCall.count({target, slot}) != 0;
}

void DelayedInvoker::OnTimeout()
{
    // Deleted later: the same timeout() still goes on to the target's slot.
    auto* timer = qobject_cast<QTimer*>(sender());
    Forget(timer);
}

void DelayedInvoker::Forget(QTimer* timer)
{
    const auto found = callsByTimer.find(timer);
    if (found == callsByTimer.end())
        return;
    timersByCall.erase(found->second);
    callsByTimer.erase(found);
    timer->stop();
    timer->deleteLater();
}
