#include <memory>

#include <sched.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QNetworkInterface>
#include <QProcess>
#include <QStandardPaths>
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

// What a loopback socket maps to when the control URL names no address: the first IPv4 one.
QString LoopbackFallback()
{
    for (const QHostAddress& address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return address.toString();
    return "127.0.0.1";
}

QMap<QString, QString> DeleteArguments(int port)
{
    return {
        {"NewRemoteHost", ""}, {"NewExternalPort", QString::number(port)}, {"NewProtocol", "TCP"}};
}

QMap<QString, QString> AddArguments(int port, const QString& client)
{
    QMap<QString, QString> arguments = DeleteArguments(port);
    arguments.insert({{"NewInternalPort", QString::number(port)},
                      {"NewInternalClient", client},
                      {"NewEnabled", "1"},
                      {"NewPortMappingDescription", "VandrellQT"},
                      {"NewLeaseDuration", "0"}});
    return arguments;
}

QString Run(const QString& command)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("sh", {"-c", command});
    process.waitForFinished();
    return process.exitCode() == 0 ? QString::fromUtf8(process.readAll()) : "failed";
}
} // namespace

class PortForwarderTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeInternetGateway> gateway;
    std::unique_ptr<PortForwarder> forwarder;
    // Connected to the gateway, so its local address is 127.0.0.1.
    std::unique_ptr<QTcpSocket> socket;
    QStringList lines, strayLines;

private slots:
    void initTestCase()
    {
        Settings::DeclareTypes(d);
        Settings::Set("show_diagnostics", "yes");
        SetLogSink([this](const QString& area, int level, const QString& text, ItemPtr item) {
            (area == "Port Forwarding" && level == 1 && item.IsNull() ? lines : strayLines) << text;
        });
    }

    void cleanupTestCase() { SetLogSink({}); }

    void init()
    {
        gateway = std::make_unique<FakeInternetGateway>();
        forwarder = std::make_unique<PortForwarder>();
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, QUrl(gateway->DescriptionUrl()).port());
        QVERIFY(socket->waitForConnected(waitMs));
        lines.clear();
        strayLines.clear();
    }

    void cleanup()
    {
        socket.reset();
        // The gateway goes first, so a worker still waiting on it is released at once.
        gateway.reset();
        forwarder.reset();
        QVERIFY(!portForwarder);
        QCOMPARE(strayLines, QStringList());
    }

    void mapsRenewsAndRemovesBothPortsWithoutBlocking()
    {
        // The gateway shares this thread, so it sees a request only while nothing here blocks.
        gateway->Hold(true);
        const QDeadlineTimer quick(1000);
        forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl());
        // The gateway is looked for once per run: this neither discovers nor logs.
        forwarder->Init();
        const QString client = LoopbackFallback();
        QStringList expected{"Initializing UPnP", "Device XML found."};
        for (int port : {plainPort, obfuscatedPort, plainPort, obfuscatedPort})
        {
            forwarder->AddPortMapping(socket.get(), port);
            expected << loopbackLine << "Found own address to be " + client
                     << QString("Port %1 successfully mapped.").arg(port);
        }
        for (int port : {plainPort, obfuscatedPort})
        {
            forwarder->RemovePortMapping(port);
            expected << QString("Removing mapping for port %1").arg(port)
                     << "Port mapping successfully removed.";
        }
        // A call waiting on the gateway would sit out the library's timeout of several seconds.
        QVERIFY(!quick.hasExpired());
        QTRY_COMPARE_WITH_TIMEOUT(gateway->HeldCount(), 1, waitMs);
        QVERIFY(lines.isEmpty());

        gateway->Hold(false);
        QTRY_COMPARE_WITH_TIMEOUT(lines, expected, waitMs);
        QCOMPARE(gateway->requests.size(), 7);
        for (int i = 1; i < 7; ++i)
        {
            const GatewayRequest& request = gateway->requests[i];
            const int port = i % 2 ? plainPort : obfuscatedPort;
            QCOMPARE(request.path, gateway->ControlPath());
            QCOMPARE(request.serviceType, QString(FakeInternetGateway::serviceType));
            QCOMPARE(request.action, QString(i < 5 ? "AddPortMapping" : "DeletePortMapping"));
            QCOMPARE(request.arguments, i < 5 ? AddArguments(port, client) : DeleteArguments(port));
        }
    }

    void retriesOnlyAfterConflict_data()
    {
        QTest::addColumn<QList<int>>("replies");
        QTest::addColumn<QStringList>("expected");
        const QStringList mapping{loopbackLine, "Found own address to be " + LoopbackFallback()};
        const QStringList conflict =
            mapping + QStringList("Port already mapped, attempting to "
                                  "remove existing mapping before retrying.");
        const QStringList removed{"Removing mapping for port 2234",
                                  "Port mapping successfully removed."};

        QTest::newRow("accepted on retry")
            << QList<int>{718, 0, 0}
            << removed + conflict + QStringList("Second mapping attempt successful.");
        QTest::newRow("conflict twice") << QList<int>{718, 0, 718} << removed + conflict;
        QTest::newRow("refused on retry")
            << QList<int>{718, 714, 501}
            << QStringList{removed[0], "Port mapping removal failed, miniupnp error: 714"} +
                   conflict + QStringList("Second mapping attempt failed, miniupnp error: 501");
        QTest::newRow("other error not retried")
            << QList<int>{402}
            << mapping + QStringList("Port 2234 mapping failure, miniupnp error: 402");
    }

    void retriesOnlyAfterConflict()
    {
        QFETCH(QList<int>, replies);
        QFETCH(QStringList, expected);
        gateway->QueueReplies(replies);
        forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl());
        forwarder->AddPortMapping(socket.get(), plainPort);
        // After the two lines of reading the description.
        QTRY_COMPARE_WITH_TIMEOUT(lines.mid(2), expected, waitMs);
        // Every reply was used: a removal and a retry after 718, nothing after anything else.
        QCOMPARE(gateway->requests.size(), 1 + replies.size());
    }

    void neverMapsWithoutControlUrl()
    {
        const QStringList refused{loopbackLine, "Found own address to be " + LoopbackFallback(),
                                  "Port 2234 mapping failure, miniupnp error: -2",
                                  "Removing mapping for port 2234",
                                  "UPnP appears to not have been initialized, aborting."};
        // Before any look for the gateway, then after one that found no description.
        forwarder->AddPortMapping(socket.get(), plainPort);
        forwarder->RemovePortMapping(plainPort);
        forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl() + ".missing");
        // Even a look that found nothing is the run's only one.
        forwarder->Init();
        forwarder->InitFromDescriptionForTesting(gateway->DescriptionUrl());
        forwarder->AddPortMapping(socket.get(), plainPort);
        forwarder->RemovePortMapping(plainPort);

        const QStringList expected =
            refused + QStringList{"Initializing UPnP", "Device XML not found."} + refused;
        QTRY_COMPARE_WITH_TIMEOUT(lines, expected, waitMs);
        QCOMPARE(gateway->Actions(), QStringList("GET"));
    }

    // Last: it moves this thread into a network namespace of its own. Inside it the machine's
    // addresses are 5.5.5.5 and then 192.168.77.1, the one the gateway's control URL names.
    void discoversAndMapsOnRealGateway()
    {
        for (const char* tool : {"miniupnpd", "nft", "ip"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP("needs miniupnpd, nftables and iproute2 on the PATH");
        if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0)
            QSKIP("cannot make a network namespace here");
        QVERIFY(Run("ip link set lo up && for n in wan lan; do ip link add ${n}0 type veth peer "
                    "name ${n}1 && ip link set ${n}0 up && ip link set ${n}1 up; done && "
                    "ip addr add 5.5.5.5/24 dev wan0 && ip addr add 192.168.77.1/24 dev lan0 && "
                    "ip route add default via 5.5.5.1 && ip route add 239.0.0.0/8 dev lan0") !=
                "failed");
        if (Run("echo 'table inet filter { chain miniupnpd {}; chain prerouting_miniupnpd {}; "
                "chain postrouting_miniupnpd {}; chain prerouting { type nat hook prerouting "
                "priority -100; jump prerouting_miniupnpd; }; }' | nft -f -") == "failed")
            QSKIP("nftables unavailable in a network namespace here");
        QTemporaryDir dir;
        QProcess daemon;
        daemon.start("miniupnpd", {"-d", "-f", "/dev/null", "-i", "wan0", "-a", "lan0", "-p",
                                   "5555", "-P", dir.filePath("pid")});
        QByteArray daemonLog;
        QTRY_VERIFY_WITH_TIMEOUT(
            (daemonLog += daemon.readAllStandardError()).contains("HTTP listening"), waitMs);

        // The worker must be made in the namespace to see the gateway. The socket from init
        // still names 127.0.0.1.
        forwarder = std::make_unique<PortForwarder>();
        QTcpSocket lan;
        lan.connectToHost("192.168.77.1", 5555);
        QVERIFY(lan.waitForConnected(waitMs));
        forwarder->Init();
        forwarder->AddPortMapping(&lan, plainPort);
        forwarder->AddPortMapping(socket.get(), obfuscatedPort);
        forwarder->RemovePortMapping(plainPort);
        QTRY_COMPARE_WITH_TIMEOUT(
            lines,
            QStringList({"Initializing UPnP", "Device list found",
                         "http://192.168.77.1:5555/rootDesc.xml, "
                         "InternetGatewayDevice, found",
                         "Device XML found.", "Found own address to be 192.168.77.1",
                         "Port 2234 successfully mapped.", loopbackLine,
                         "Found own address to be 192.168.77.1", "Port 2235 successfully mapped.",
                         "Removing mapping for port 2234", "Port mapping successfully removed."}),
            3 * waitMs);
        // The gateway's rules show that it did as it answered.
        const QString rules = Run("nft list chain inet filter prerouting_miniupnpd");
        QVERIFY(rules.contains("dport 2235 dnat ip to 192.168.77.1:2235"));
        QVERIFY(!rules.contains("dport 2234"));
        daemon.terminate();
        daemon.waitForFinished();
    }
};

QTEST_MAIN(PortForwarderTest)
#include "tst_port_forwarder.moc"
