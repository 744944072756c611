#pragma once

#include <memory>

#include <QObject>
#include <QString>
#include <QStringList>

// The port forwarder's worker: lives on the forwarder's thread and makes the blocking UPnP
// calls there, one slot at a time in the order queued. Each slot reports its lines through
// Report, which reaches the forwarder on its own thread; nothing here touches the item store.
class ThreadedServices : public QObject
{
    Q_OBJECT

public:
    ThreadedServices();
    // Runs after the worker thread has ended, so the gateway's URLs are no longer in use.
    ~ThreadedServices() override;

signals:
    void Report(QStringList i_lines);

public slots:
    void Init();
    // Reads the gateway description at the URL instead of discovering a gateway.
    void InitFromDescription(const QString& descriptionUrl);
    void AddPortMapping(const QString& address, int port);
    void RemovePortMapping(int port);

private:
    struct Gateway;

    void Initialize(const QString& descriptionUrl);
    void ReadDescription(const char* descriptionUrl, unsigned int scopeId, QStringList& report);
    QString OutsideFacingAddress(QStringList& report) const;
    int AddMapping(const QByteArray& port, const QByteArray& address);
    void ClearGateway();
    bool HasControlUrl() const;

    // The gateway found by Init; used only on the worker thread.
    std::unique_ptr<Gateway> gateway;
    // The run looks for a gateway once, whatever it finds.
    bool initialized = false;
};
