#include <memory>

#include <sched.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "Data.h"
#include "FakeInternetGateway.h"
#include "Log.h"
#include "PortForwarder.h"
#include "Settings.h"

namespace {
constexpr int waitMs = 5000;
constexpr int plainPort = 2234;
constexpr int obfuscatedPort = 2235;
const QString loopbackLine = "Own address is reported as 127.0.0.1, checking all addresses.";
const QString conflictLine =
    "Port already mapped, attempting to remove existing mapping before retrying.";

// The machine's IPv4 addresses other than loopback, in the system's order.
QStringList MachineAddresses()
{
    QStringList addresses;
    for (const QHostAddress& address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            addresses << address.toString();
    return addresses;
}

// What a mapping from a loopback socket names when the control URL names no machine address.
QString LoopbackFallback()
{
    return MachineAddresses().value(0, "127.0.0.1");
}

QMap<QString, QString> AddArguments(int port, const QString& client)
{
    return {{"NewRemoteHost", ""},
            {"NewExternalPort", QString::number(port)},
            {"NewProtocol", "TCP"},
            {"NewInternalPort", QString::number(port)},
            {"NewInternalClient", client},
            {"NewEnabled", "1"},
            {"NewPortMappingDescription", "VandrellQT"},
            {"NewLeaseDuration", "0"}};
}

QMap<QString, QString> DeleteArguments(int port)
{
    return {
        {"NewRemoteHost", ""}, {"NewExternalPort", QString::number(port)}, {"NewProtocol", "TCP"}};
}

QString Run(const QString& command, const QByteArray& input = QByteArray())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("sh", {"-c", command});
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished();
    return process.exitCode() == 0 ? QString::fromUtf8(process.readAll()) : "failed";
}
} // namespace

class PortForwarderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase() { SetLogSink({}); }

    void mapsRenewsAndRemovesBothListeningPorts();
    void retriesOnlyAfterConflict_data();
    void retriesOnlyAfterConflict();
    void neverMapsWithoutControlUrl_data();
    void neverMapsWithoutControlUrl();
    void mapsToAddressGatewayCanReach_data();
    void mapsToAddressGatewayCanReach();
    void keepsGuiThreadFreeWhileGatewayIsSlow();
    // Last: it moves this thread into a network namespace of its own.
    void discoversAndMapsOnRealGateway();

private:
    void CheckRequest(int index, const QString& action, const QMap<QString, QString>& arguments);

    std::unique_ptr<FakeInternetGateway> gateway;
    std::unique_ptr<PortForwarder> forwarder;
    // Connected to the gateway, so its local address is 127.0.0.1.
    std::unique_ptr<QTcpSocket> socket;
    QStringList lines;
    QStringList strayLines;
};

void PortForwarderTest::initTestCase()
{
    Settings::DeclareTypes(d);
    Settings::Set("show_diagnostics", "yes");
    SetLogSink([this](const QString& area, int level, const QString& text, ItemPtr item) {
        (area == "Port Forwarding" && level == 1 && item.IsNull() ? lines : strayLines) << text;
    });
}

void PortForwarderTest::init()
{
    gateway = std::make_unique<FakeInternetGateway>();
    forwarder = std::make_unique<PortForwarder>();
    QCOMPARE(portForwarder, forwarder.get());
    socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, QUrl(gateway->DescriptionUrl()).port());
    QVERIFY(socket->waitForConnected(waitMs));
    lines.clear();
    strayLines.clear();
}

void PortForwarderTest::cleanup()
{
    socket.reset();
    // The gateway goes first, so a worker still waiting on it is released at once.
    gateway.reset();
    forwarder.reset();
    QVERIFY(!portForwarder);
    QCOMPARE(strayLines, QStringList());
}

void PortForwarderTest::CheckRequest(int index, const QString& action,
                                     const QMap<QString, QString>& arguments)
{
    QVERIFY(index < gateway->requests.size());
    const GatewayRequest& request = gateway->requests[index];
    QCOMPARE(request.method, QString("POST"));
    QCOMPARE(request.path, gateway->ControlPath());
    QCOMPARE(request.action, action);
    QCOMPARE(request.serviceType, QString(FakeInternetGateway::serviceType));
    QCOMPARE(request.arguments, arguments);
}

void PortForwarderTest::mapsRenewsAndRemovesBothListeningPorts()
{
    forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl());
    // The gateway is looked for once per run: this neither discovers nor logs.
    forwarder->Init();
    for (int round = 0; round < 2; ++round)
    {
        forwarder->AddPortMapping(socket.get(), plainPort);
        forwarder->AddPortMapping(socket.get(), obfuscatedPort);
    }
    forwarder->RemovePortMapping(plainPort);
    forwarder->RemovePortMapping(obfuscatedPort);

    const QString client = LoopbackFallback();
    QStringList expected{"Initializing UPnP", "Device XML found."};
    for (int port : {plainPort, obfuscatedPort, plainPort, obfuscatedPort})
        expected << loopbackLine << "Found own address to be " + client
                 << QString("Port %1 successfully mapped.").arg(port);
    for (int port : {plainPort, obfuscatedPort})
        expected << QString("Removing mapping for port %1").arg(port)
                 << "Port mapping successfully removed.";
    QTRY_VERIFY_WITH_TIMEOUT(lines.size() >= expected.size(), waitMs);
    QCOMPARE(lines, expected);

    QCOMPARE(gateway->Actions(),
             QStringList({"GET", "AddPortMapping", "AddPortMapping", "AddPortMapping",
                          "AddPortMapping", "DeletePortMapping", "DeletePortMapping"}));
    QCOMPARE(gateway->requests[0].path, QString(FakeInternetGateway::descriptionPath));
    for (int i = 1; i <= 4; ++i)
        CheckRequest(i, "AddPortMapping", AddArguments(i % 2 ? plainPort : obfuscatedPort, client));
    CheckRequest(5, "DeletePortMapping", DeleteArguments(plainPort));
    CheckRequest(6, "DeletePortMapping", DeleteArguments(obfuscatedPort));
}

void PortForwarderTest::retriesOnlyAfterConflict_data()
{
    QTest::addColumn<QList<int>>("replies");
    QTest::addColumn<QStringList>("expected");
    const QStringList removal{"Removing mapping for port 2234",
                              "Port mapping successfully removed."};
    const QStringList mapping{loopbackLine, "Found own address to be {client}"};

    QTest::newRow("accepted on retry")
        << QList<int>{718, 0, 0}
        << removal + mapping + QStringList{conflictLine, "Second mapping attempt successful."};
    QTest::newRow("conflict twice")
        << QList<int>{718, 0, 718} << removal + mapping + QStringList{conflictLine};
    QTest::newRow("refused on retry")
        << QList<int>{718, 714, 501}
        << QStringList{"Removing mapping for port 2234",
                       "Port mapping removal failed, miniupnp error: 714"} +
               mapping +
               QStringList{conflictLine, "Second mapping attempt failed, miniupnp error: 501"};
    QTest::newRow("other error not retried")
        << QList<int>{402}
        << mapping + QStringList{"Port 2234 mapping failure, miniupnp error: 402"};
}

void PortForwarderTest::retriesOnlyAfterConflict()
{
    QFETCH(QList<int>, replies);
    QFETCH(QStringList, expected);
    expected.replaceInStrings("{client}", LoopbackFallback());
    gateway->QueueReplies(replies);
    forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl());
    QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 2, waitMs);
    lines.clear();

    forwarder->AddPortMapping(socket.get(), plainPort);
    QTRY_VERIFY_WITH_TIMEOUT(lines.size() >= expected.size(), waitMs);
    QCOMPARE(lines, expected);
    // Every reply was used: one removal and one retry after 718, nothing after anything else.
    QCOMPARE(gateway->requests.size(), 1 + replies.size());
    for (int i = 1; i < gateway->requests.size(); ++i)
    {
        if (i == 2)
            CheckRequest(i, "DeletePortMapping", DeleteArguments(plainPort));
        else
            CheckRequest(i, "AddPortMapping", AddArguments(plainPort, LoopbackFallback()));
    }
}

void PortForwarderTest::neverMapsWithoutControlUrl_data()
{
    QTest::addColumn<QStringList>("initLines");
    QTest::newRow("never initialized") << QStringList();
    QTest::newRow("description missing")
        << QStringList{"Initializing UPnP", "Device XML not found."};
}

void PortForwarderTest::neverMapsWithoutControlUrl()
{
    QFETCH(QStringList, initLines);
    if (!initLines.isEmpty())
    {
        forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl() + ".missing");
        // Even a look that found nothing is the run's only one.
        forwarder->Init();
        forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl());
    }
    forwarder->AddPortMapping(socket.get(), plainPort);
    forwarder->RemovePortMapping(plainPort);

    const QStringList expected =
        initLines + QStringList{loopbackLine, "Found own address to be " + LoopbackFallback(),
                                "Port 2234 mapping failure, miniupnp error: -2",
                                "Removing mapping for port 2234",
                                "UPnP appears to not have been initialized, aborting."};
    QTRY_VERIFY_WITH_TIMEOUT(lines.size() >= expected.size(), waitMs);
    QCOMPARE(lines, expected);
    QCOMPARE(gateway->Actions(), initLines.isEmpty() ? QStringList() : QStringList("GET"));
}

void PortForwarderTest::mapsToAddressGatewayCanReach_data()
{
    QTest::addColumn<bool>("fromLoopback");
    QTest::addColumn<bool>("namedInControlUrl");
    QTest::newRow("own address kept") << false << false;
    QTest::newRow("loopback: first machine address") << true << false;
    QTest::newRow("loopback: address the control URL names") << true << true;
}

void PortForwarderTest::mapsToAddressGatewayCanReach()
{
    QFETCH(bool, fromLoopback);
    QFETCH(bool, namedInControlUrl);
    const QStringList machine = MachineAddresses();
    QString client = LoopbackFallback();
    if (!fromLoopback || namedInControlUrl)
    {
        // Telling the named address from the fallback takes a second machine address.
        if (machine.size() < (fromLoopback ? 2 : 1))
            QSKIP("not enough IPv4 addresses besides loopback on this machine");
        client = fromLoopback ? machine.last() : machine.first();
    }
    if (namedInControlUrl)
        gateway->SetControlPath("/ctl/" + client.section('.', 0, 2) + "/IPConn");

    QTcpServer listener;
    QTcpSocket ownSocket;
    if (!fromLoopback)
    {
        QVERIFY(listener.listen(QHostAddress::AnyIPv4));
        ownSocket.connectToHost(client, listener.serverPort());
        QVERIFY(ownSocket.waitForConnected(waitMs));
    }
    forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl());
    forwarder->AddPortMapping(fromLoopback ? socket.get() : &ownSocket, plainPort);

    QTRY_VERIFY_WITH_TIMEOUT(lines.contains("Port 2234 successfully mapped."), waitMs);
    QCOMPARE(lines.contains(loopbackLine), fromLoopback);
    QVERIFY(lines.contains("Found own address to be " + client));
    CheckRequest(1, "AddPortMapping", AddArguments(plainPort, client));
}

void PortForwarderTest::keepsGuiThreadFreeWhileGatewayIsSlow()
{
    gateway->Hold(true);
    QElapsedTimer timer;
    timer.start();
    forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl());
    forwarder->AddPortMapping(socket.get(), plainPort);
    forwarder->RemovePortMapping(plainPort);
    // A call waiting on the gateway would sit out the library's timeout of several seconds.
    QVERIFY(timer.elapsed() < 1000);

    // The gateway shares this thread: it only sees the request because nothing blocks here.
    QTRY_COMPARE_WITH_TIMEOUT(gateway->HeldCount(), 1, waitMs);
    QCOMPARE(gateway->Actions(), QStringList("GET"));
    QVERIFY(lines.isEmpty());

    gateway->Hold(false);
    QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 7, waitMs);
    QCOMPARE(lines.last(), QString("Port mapping successfully removed."));
    QCOMPARE(gateway->Actions(), QStringList({"GET", "AddPortMapping", "DeletePortMapping"}));
}

void PortForwarderTest::discoversAndMapsOnRealGateway()
{
    for (const char* tool : {"miniupnpd", "nft", "ip"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP("needs miniupnpd, nftables and iproute2 on the PATH");
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0)
        QSKIP("cannot make a network namespace here");
    // A gateway with a public outside address and a LAN of its own, alone in the namespace.
    const QString setup = "ip link set lo up && "
                          "ip link add wan0 type veth peer name wan1 && ip link set wan1 up && "
                          "ip link set wan0 up && ip addr add 5.5.5.5/24 dev wan0 && "
                          "ip link add lan0 type veth peer name lan1 && ip link set lan1 up && "
                          "ip link set lan0 up && ip addr add 192.168.77.1/24 dev lan0 && "
                          "ip route add default via 5.5.5.1 && ip route add 239.0.0.0/8 dev lan0";
    QVERIFY(Run(setup) != "failed");
    const QByteArray chains = "table inet filter {\n chain miniupnpd {}\n"
                              " chain prerouting_miniupnpd {}\n chain postrouting_miniupnpd {}\n"
                              " chain prerouting { type nat hook prerouting priority -100; "
                              "jump prerouting_miniupnpd\n }\n}\n";
    if (Run("nft -f -", chains) == "failed")
        QSKIP("nftables unavailable in a network namespace here");
    QTemporaryDir dir;
    QFile config(dir.filePath("miniupnpd.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("ext_ifname=wan0\nlistening_ip=lan0\nport=5555\nenable_natpmp=no\n"
                 "uuid=3b9c1f9e-6a44-4b7a-9d11-8a1f2f3c4d5e\n"
                 "allow 1024-65535 192.168.77.0/24 1024-65535\ndeny 0-65535 0.0.0.0/0 0-65535\n");
    config.close();
    QProcess daemon;
    daemon.start("miniupnpd", {"-d", "-f", config.fileName(), "-P", dir.filePath("pid")});
    QByteArray daemonLog;
    QTRY_VERIFY_WITH_TIMEOUT(
        (daemonLog += daemon.readAllStandardError()).contains("HTTP listening"), waitMs);

    // The worker must be made in the namespace to see the gateway.
    forwarder = std::make_unique<PortForwarder>();
    QTcpSocket lan;
    lan.connectToHost("192.168.77.1", 5555);
    QVERIFY(lan.waitForConnected(waitMs));
    forwarder->Init();
    forwarder->AddPortMapping(&lan, plainPort);
    const QString rule = "dport 2234 dnat ip to 192.168.77.1:2234";
    const QString listRules = "nft list chain inet filter prerouting_miniupnpd";
    QTRY_VERIFY_WITH_TIMEOUT(Run(listRules).contains(rule), 3 * waitMs);
    forwarder->RemovePortMapping(plainPort);
    QTRY_VERIFY_WITH_TIMEOUT(!Run(listRules).contains(rule), waitMs);
    daemon.terminate();
    daemon.waitForFinished();

    QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 8, waitMs);
    QCOMPARE(lines, QStringList({"Initializing UPnP", "Device list found",
                                 "http://192.168.77.1:5555/rootDesc.xml, InternetGatewayDevice, "
                                 "found",
                                 "Device XML found.", "Found own address to be 192.168.77.1",
                                 "Port 2234 successfully mapped.", "Removing mapping for port 2234",
                                 "Port mapping successfully removed."}));
}

QTEST_MAIN(PortForwarderTest)
#include "tst_port_forwarder.moc"
