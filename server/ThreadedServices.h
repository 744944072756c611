#pragma once

#include <QObject>
#include <QString>

// The port forwarder's worker: lives on the forwarder's thread and makes the blocking UPnP
// calls there, one slot at a time in the order queued. Each slot reports its lines back to
// `portForwarder` by a queued call and never touches the item store.
class ThreadedServices : public QObject
{
    Q_OBJECT

public:
    ThreadedServices() = default;
    // Runs after the worker thread has ended, so the gateway's URLs are no longer in use.
    ~ThreadedServices() override;

public slots:
    void Init();
    // Reads the gateway description at the URL instead of discovering a gateway.
    void InitFromDescription(const QString& descriptionUrl);
    void AddPortMapping(const QString& address, int port);
    void RemovePortMapping(int port);

private:
    void Initialize(const QString& descriptionUrl);
};
