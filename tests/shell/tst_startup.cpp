#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "FakeCentralServer.h"
#include "FakeHttpServer.h"

namespace {
using Report = QMap<QString, QStringList>;

QProcessEnvironment EnvironmentWithHome(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

int SavedFileCount(const QString& home)
{
    return QDir(home).entryList({".Vandrell.*"}, QDir::Files | QDir::Hidden).size();
}
} // namespace

// The program's start-up and shutdown, each run in a process of its own with a temporary home
// folder, as a user would start the program again.
class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void firstRunAsksAccountWritesDefaultsAndLogsIn();
    void nextStartLoadsWithoutAsking();
    void unreadableStoreIsAnnouncedAndStartsAfresh();
    void restoresWindowGeometry();
    void diagnosticsTabFollowsItsOption();
    void upnpOptionShowsAndStoresTheSetting();
    void changedOptionsShowAgainAtNextStart();
    void noSaveAfterShutdownBegan();
    void secondInstanceWithSameHomeExits();

private:
    // Runs the probe to its end; every reported value by key, in order.
    Report RunProbe(const QString& action);

    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<FakeCentralServer> fake;
    std::unique_ptr<FakeHttpServer> updateHost;
    // A loopback port nothing listens on: the gateway look fails at once, off the network.
    quint16 closedPort = 0;
};

void StartupTest::init()
{
    home = std::make_unique<QTemporaryDir>();
    fake = std::make_unique<FakeCentralServer>();
    updateHost = std::make_unique<FakeHttpServer>();
    updateHost->Serve("/qtversion.txt", "20140301\nhttp://example.org/new\nNew build\nFaster\n");
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    closedPort = probe.serverPort();
}

Report StartupTest::RunProbe(const QString& action)
{
    QProcess probe;
    probe.setProcessEnvironment(EnvironmentWithHome(home->path()));
    probe.start(STARTUP_PROBE, {QString::number(fake->Port()), action,
                                updateHost->Url("/qtversion.txt").toString(),
                                QString("http://127.0.0.1:%1/rootDesc.xml").arg(closedPort)});
    Report report;
    // The fake answers the login while the probe runs, so wait in the event loop.
    if (!QTest::qWaitFor([&probe] { return probe.state() == QProcess::NotRunning; }, 60000))
    {
        probe.kill();
        probe.waitForFinished();
        return report;
    }
    for (const QString& line : QString::fromUtf8(probe.readAllStandardOutput()).split('\n'))
    {
        const int equals = line.indexOf('=');
        if (equals > 0)
            report[line.left(equals)].append(line.mid(equals + 1));
    }
    report["exit"] << QString::number(probe.exitCode());
    return report;
}

void StartupTest::firstRunAsksAccountWritesDefaultsAndLogsIn()
{
    const Report report = RunProbe("login");
    QCOMPARE(report["exit"], QStringList{"0"});
    QCOMPARE(report["asked_account"], QStringList{"yes"});
    QCOMPARE(report["username"], QStringList{"probe user"});
    QCOMPARE(report["password"], QStringList{"secret"});
    QCOMPARE(report["minimize_to_tray"], QStringList{"yes"});
    QCOMPARE(report["first_open_tab"], QStringList{"rooms"});
    QCOMPARE(report["current_tab"], QStringList{"1"});
    QCOMPARE(report["color_transfer_failed"], QStringList{"#ff0a47"});
    QCOMPARE(report["log_room_chat"], QStringList{"yes"});
    QCOMPARE(report["data_version"], QStringList{"1"});
    QCOMPARE(report["title"], QStringList{"VandrellQt build 2013.2.12 [probe user]"});
    // The Transfers tab counts the active downloads and uploads in its title.
    QCOMPARE(report["tabs"].value(0),
             QString("transfersTab:Transfers [0/0],roomsTab:Rooms,chatTab:Chat,"
                     "searchTab:Search,tab_2:Users,sharesTab:Browse,"
                     "optionsTab:Options"));
    QCOMPARE(report["logged_in"], QStringList{"yes"});
    QCOMPARE(report["new_version_dialog"], QStringList{"yes"});
    QCOMPARE(report["box"], (QStringList{"Share a folder?", "In the future"}));

    QVERIFY(!fake->MessagesWithCode(1).isEmpty());
    QString user;
    QVERIFY(fake->MessagesWithCode(1).first().Fields().Read(user));
    QCOMPARE(user, QString("probe user"));
    QCOMPARE(report["files_at_exit"], QStringList{"1"});
}

void StartupTest::nextStartLoadsWithoutAsking()
{
    QCOMPARE(RunProbe("none")["asked_account"], QStringList{"yes"});
    QCOMPARE(SavedFileCount(home->path()), 1);

    const Report second = RunProbe("login");
    QCOMPARE(second["asked_account"], QStringList());
    QCOMPARE(second["box"], QStringList());
    QCOMPARE(second["username"], QStringList{"probe user"});
    QCOMPARE(second["logged_in"], QStringList{"yes"});
    QCOMPARE(second["files_at_exit"], QStringList{"2"});
}

void StartupTest::unreadableStoreIsAnnouncedAndStartsAfresh()
{
    QFile garbage(home->path() + "/.Vandrell.1000");
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a saved store");
    garbage.close();

    const Report report = RunProbe("none");
    QCOMPARE(report["box"],
             (QStringList{"Error loading configuration data", "Share a folder?", "In the future"}));
    QCOMPARE(report["asked_account"], QStringList{"yes"});
    // The defaults written before the load survive the failure.
    QCOMPARE(report["first_open_tab"], QStringList{"rooms"});
    QVERIFY(QFile::exists(home->path() + "/.Vandrell.1000.unreadable"));
}

void StartupTest::restoresWindowGeometry()
{
    const Report first = RunProbe("resize");
    QCOMPARE(first["geometry"].value(1), QString("40,50,900,650"));
    const Report second = RunProbe("none");
    QCOMPARE(second["geometry"], QStringList{"40,50,900,650"});
}

void StartupTest::diagnosticsTabFollowsItsOption()
{
    const Report first = RunProbe("diagnostics");
    QVERIFY(!first["tabs"].value(0).contains("Diagnostics"));
    QVERIFY(first["tabs"].value(1).endsWith("optionsTab:Options,DiagnosticsForm:Diagnostics"));
    const Report second = RunProbe("none");
    QVERIFY(second["tabs"].value(0).endsWith("optionsTab:Options,DiagnosticsForm:Diagnostics"));
}

void StartupTest::upnpOptionShowsAndStoresTheSetting()
{
    const Report first = RunProbe("upnp-off");
    QCOMPARE(first["upnp_box"], QStringList{"ticked"});
    QCOMPARE(first["use_upnp"], QStringList{"no"});
    QCOMPARE(RunProbe("upnp-off")["upnp_box"], QStringList{"clear"});
}

void StartupTest::changedOptionsShowAgainAtNextStart()
{
    const Report first = RunProbe("options");
    const Report second = RunProbe("none");
    // The probe stores these two as commands do, which show them only at the next start.
    const QMap<QString, QString> storedOnly{{"option.downloadFolderEdit", "/data/in"},
                                            {"option.userPictureFilenameEdit", "/data/me.png"}};
    int controls = 0;
    for (auto option = first.begin(); option != first.end(); ++option)
    {
        if (!option.key().startsWith("option."))
            continue;
        ++controls;
        const QString changed = storedOnly.value(option.key(), option.value().value(1));
        QVERIFY2(changed != option.value().value(0), qPrintable(option.key()));
        QCOMPARE(second[option.key()], QStringList{changed});
    }
    QCOMPARE(controls, 22);
    QCOMPARE(second["option.maxUploadsPerUserSpinBox"], QStringList{"25"});
    QCOMPARE(second["current_tab"], QStringList{"4"});
}

void StartupTest::noSaveAfterShutdownBegan()
{
    const Report report = RunProbe("late-save");
    QCOMPARE(report["files_after_late_save"], QStringList{"0"});
    QCOMPARE(report["files_at_exit"], QStringList{"0"});
}

void StartupTest::secondInstanceWithSameHomeExits()
{
    // The guard's lock lives in the runtime folder; a private one shows when it is taken.
    QTemporaryDir runtime;
    QProcessEnvironment environment = EnvironmentWithHome(home->path());
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    const auto lockCount = [&runtime] {
        return QDir(runtime.path()).entryList({"*.lock"}, QDir::Files | QDir::Hidden).size();
    };

    // The first instance waits in its first-run question until it is killed.
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(CLIENT_PROGRAM, QStringList());
    QTRY_COMPARE_WITH_TIMEOUT(lockCount(), 1, 10000);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(CLIENT_PROGRAM, QStringList());
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QTemporaryDir otherHome;
    environment.insert("HOME", otherHome.path());
    QProcess other;
    other.setProcessEnvironment(environment);
    other.start(CLIENT_PROGRAM, QStringList());
    QTRY_COMPARE_WITH_TIMEOUT(lockCount(), 2, 10000);
    QCOMPARE(other.state(), QProcess::Running);

    for (QProcess* process : {&first, &other})
    {
        process->kill();
        process->waitForFinished();
    }
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
