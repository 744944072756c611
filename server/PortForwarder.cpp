#include "PortForwarder.h"

#include <QHostAddress>
#include <QTcpSocket>

#include "Log.h"

PortForwarder* portForwarder = nullptr;

namespace {
const char* const logArea = "Port Forwarding";
}

PortForwarder::PortForwarder(QObject* parent) : QObject(parent)
{
    portForwarder = this;
    thread.setObjectName("PortForwarder");
    services.moveToThread(&thread);
    // Queued: the report comes from the worker thread.
    connect(&services, &ThreadedServices::Report, this, &PortForwarder::LogLines);
    thread.start();
}

PortForwarder::~PortForwarder()
{
    thread.exit(0);
    thread.wait();
    if (portForwarder == this)
        portForwarder = nullptr;
}

void PortForwarder::Init()
{
    QMetaObject::invokeMethod(&services, "Init", Qt::QueuedConnection);
}

void PortForwarder::InitFromDescriptionForTesting(const QString& descriptionUrl)
{
    QMetaObject::invokeMethod(&services, "InitFromDescription", Qt::QueuedConnection,
                              Q_ARG(QString, descriptionUrl));
}

void PortForwarder::AddPortMapping(QTcpSocket* socket, int port)
{
    // The socket belongs to the GUI thread, so its address is read here, not by the worker.
    const QString address = socket ? socket->localAddress().toString() : QString();
    QMetaObject::invokeMethod(&services, "AddPortMapping", Qt::QueuedConnection,
                              Q_ARG(QString, address), Q_ARG(int, port));
}

void PortForwarder::RemovePortMapping(int port)
{
    QMetaObject::invokeMethod(&services, "RemovePortMapping", Qt::QueuedConnection,
                              Q_ARG(int, port));
}

void PortForwarder::LogLines(const QStringList& lines)
{
    for (const QString& line : lines)
        Log(logArea, 1, line);
}
