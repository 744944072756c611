#pragma once

#include <QObject>
#include <QStringList>
#include <QThread>

#include "ThreadedServices.h"

class QTcpSocket;

// Asks the local internet gateway, by UPnP, to forward the listening ports to this machine.
// Every call returns at once: the work is queued to a worker thread, whose report lines come
// back to LogLines and go to the log area "Port Forwarding".
class PortForwarder : public QObject
{
    Q_OBJECT

public:
    explicit PortForwarder(QObject* parent = nullptr);
    // Waits for the request under way, however long the gateway takes.
    ~PortForwarder() override;

    // Looks for the gateway, once per run.
    void Init();
    // Maps the port, outside and inside, to the socket's local address.
    void AddPortMapping(QTcpSocket* socket, int port);
    void RemovePortMapping(int port);

    // Tests hand over a fake gateway's description URL in place of discovery; like Init, it
    // counts as the run's one look for a gateway.
    void InitFromDescriptionForTesting(const QString& descriptionUrl);

public slots:
    void LogLines(const QStringList& lines);

private:
    QThread thread;
    ThreadedServices services;
};

extern PortForwarder* portForwarder;
