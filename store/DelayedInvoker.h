#pragma once

#include <map>
#include <utility>

#include <QObject>
#include <QString>

class QTimer;

// Calls a slot of an object once, some milliseconds later. Requests for a slot of an object
// that is already pending are dropped, so the first deadline holds.
class DelayedInvoker : public QObject
{
    Q_OBJECT

public:
    explicit DelayedInvoker(QObject* parent = nullptr);
    ~DelayedInvoker() override;

    // slot is in connect-string form, with the slot marker: "1Sort()".
    void Invoke(QObject* target, const QString& slot, int ms);
    bool IsPending(const QObject* target, const QString& slot) const;
    int PendingCount() const { return int(callsByTimer.size()); }

private slots:
    void OnTimeout();

private:
    using Call = std::pair<const QObject*, QString>;
    struct CallOrder
    {
        bool operator()(const Call& a, const Call& b) const;
    };

    void Forget(QTimer* timer);

    std::map<Call, QTimer*, CallOrder> timersByCall;
    std::map<QTimer*, Call> callsByTimer;
};

extern DelayedInvoker* delayedInvoker;
