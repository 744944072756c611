#include "ThreadedServices.h"

#include <cstdlib>
#include <cstring>

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QStringList>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/miniwget.h>
#include <miniupnpc/upnpcommands.h>

struct ThreadedServices::Gateway
{
    UPNPUrls urls;
    IGDdatas data;
};

namespace {
constexpr int discoveryDelayMs = 2000;
constexpr unsigned char discoveryTtl = 2;
constexpr int conflictInMappingEntry = 718;
constexpr int httpOk = 200;
const char* const gatewayDeviceType = "InternetGatewayDevice";
const char* const mappingDescription = "VandrellQT";
const char* const protocol = "TCP";
const char* const loopbackAddress = "127.0.0.1";

// The first device offering an internet gateway, or else the first device of all.
UPNPDev* ChooseDevice(UPNPDev* devices, QStringList& report)
{
    for (UPNPDev* device = devices; device; device = device->pNext)
    {
        if (std::strstr(device->st, gatewayDeviceType))
        {
            report << QString("%1, InternetGatewayDevice, found").arg(device->descURL);
            return device;
        }
        report << QString("%1, %2 skipping").arg(device->descURL, device->st);
    }
    report << QString("Defaulting to first device found, %1").arg(devices->st);
    return devices;
}
} // namespace

ThreadedServices::ThreadedServices() : gateway(new Gateway{})
{}

ThreadedServices::~ThreadedServices()
{
    ClearGateway();
}

void ThreadedServices::ClearGateway()
{
    FreeUPNPUrls(&gateway->urls);
    std::memset(&gateway->urls, 0, sizeof gateway->urls);
    std::memset(&gateway->data, 0, sizeof gateway->data);
}

bool ThreadedServices::HasControlUrl() const
{
    return gateway->urls.controlURL && gateway->urls.controlURL[0] != '\0';
}

void ThreadedServices::ReadDescription(const char* descriptionUrl, unsigned int scopeId,
                                       QStringList& report)
{
    int size = 0;
    int status = 0;
    char* xml = static_cast<char*>(miniwget(descriptionUrl, &size, scopeId, &status));
    // An error page is not a description; parsing it would leave a control URL that points
    // nowhere useful.
    if (!xml || size <= 0 || status != httpOk)
    {
        std::free(xml);
        report << "Device XML not found.";
        return;
    }
    parserootdesc(xml, size, &gateway->data);
    std::free(xml);
    GetUPNPUrls(&gateway->urls, &gateway->data, descriptionUrl, scopeId);
    report << "Device XML found.";
}

// A socket on the loopback address says nothing the gateway can use: take instead the
// machine address on the gateway's network, judged by its first three numbers appearing in
// the control URL, or else the first IPv4 address of the machine.
QString ThreadedServices::OutsideFacingAddress(QStringList& report) const
{
    report << "Own address is reported as 127.0.0.1, checking all addresses.";
    const QString controlUrl = QString::fromLatin1(gateway->urls.controlURL);
    static const QRegularExpression firstThreeNumbers("\\d+\\.\\d+\\.\\d+");
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    QString address = loopbackAddress;
    for (int i = addresses.size() - 1; i >= 0; --i)
    {
        const QString text = addresses[i].toString();
        if (text == loopbackAddress || addresses[i].protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        address = text;
        const QRegularExpressionMatch match = firstThreeNumbers.match(text);
        if (match.hasMatch() && controlUrl.contains(match.captured()))
            break;
    }
    return address;
}

int ThreadedServices::AddMapping(const QByteArray& port, const QByteArray& address)
{
    // Some versions of the library dereference a missing control URL.
    if (!HasControlUrl())
        return UPNPCOMMAND_INVALID_ARGS;
    return UPNP_AddPortMapping(gateway->urls.controlURL, gateway->data.first.servicetype,
                               port.constData(), port.constData(), address.constData(),
                               mappingDescription, protocol, nullptr, nullptr);
}

void ThreadedServices::Init()
{
    Initialize(QString());
}

void ThreadedServices::InitFromDescription(const QString& descriptionUrl)
{
    Initialize(descriptionUrl);
}

void ThreadedServices::Initialize(const QString& descriptionUrl)
{
    if (initialized)
        return;
    QStringList report("Initializing UPnP");
    ClearGateway();
    if (!descriptionUrl.isEmpty())
    {
        ReadDescription(descriptionUrl.toLatin1().constData(), 0, report);
    }
    else
    {
        int error = 0;
        UPNPDev* devices = upnpDiscover(discoveryDelayMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0,
                                        discoveryTtl, &error);
        if (!devices)
        {
            report << QString("No device list found during discovery. miniupnp error code: %1")
                          .arg(error);
        }
        else
        {
            report << "Device list found";
            UPNPDev* chosen = ChooseDevice(devices, report);
            ReadDescription(chosen->descURL, chosen->scope_id, report);
            freeUPNPDevlist(devices);
        }
    }
    initialized = true;
    emit Report(report);
}

void ThreadedServices::AddPortMapping(const QString& address, int port)
{
    QStringList report;
    const QByteArray portText = QByteArray::number(port);
    const QString client = address == loopbackAddress ? OutsideFacingAddress(report) : address;
    report << QString("Found own address to be %1").arg(client);
    const QByteArray clientText = client.toLatin1();

    const int result = AddMapping(portText, clientText);
    if (result == UPNPCOMMAND_SUCCESS)
    {
        report << QString("Port %1 successfully mapped.").arg(port);
    }
    else if (result == conflictInMappingEntry)
    {
        report << "Port already mapped, attempting to remove existing mapping before retrying.";
        RemovePortMapping(port);
        const int retry = AddMapping(portText, clientText);
        if (retry == UPNPCOMMAND_SUCCESS)
            report << "Second mapping attempt successful.";
        else if (retry != conflictInMappingEntry)
            report << QString("Second mapping attempt failed, miniupnp error: %1").arg(retry);
    }
    else
    {
        report << QString("Port %1 mapping failure, miniupnp error: %2").arg(port).arg(result);
    }
    emit Report(report);
}

void ThreadedServices::RemovePortMapping(int port)
{
    QStringList report(QString("Removing mapping for port %1").arg(port));
    if (!HasControlUrl())
    {
        report << "UPnP appears to not have been initialized, aborting.";
        emit Report(report);
        return;
    }
    const QByteArray portText = QByteArray::number(port);
    const int result =
        UPNP_DeletePortMapping(gateway->urls.controlURL, gateway->data.first.servicetype,
                               portText.constData(), protocol, nullptr);
    if (result == UPNPCOMMAND_SUCCESS)
        report << "Port mapping successfully removed.";
    else
        report << QString("Port mapping removal failed, miniupnp error: %1").arg(result);
    emit Report(report);
}
