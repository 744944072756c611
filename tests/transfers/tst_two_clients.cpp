#include <memory>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "FakeCentralHub.h"

namespace {
constexpr int startMs = 30000;
constexpr int transferMs = 60000;

// A whole client in a process of its own, with its own home folder, driven through the probe's
// command lines. Every line it reports is kept.
class ClientProcess
{
public:
    ClientProcess(const QString& user, const QString& home, quint16 serverPort)
        : user(user), home(home), serverPort(serverPort)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { ReadLines(); });
    }

    ~ClientProcess()
    {
        if (process.state() != QProcess::NotRunning)
        {
            process.kill();
            process.waitForFinished();
        }
    }

    bool Start()
    {
        lines.clear();
        killed = false;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(TRANSFER_PROBE, {QString::number(serverPort), user});
        return WaitFor({"logged_in"}, startMs);
    }

    void Command(const QStringList& fields) { process.write(fields.join('\t').toUtf8() + '\n'); }

    bool WaitFor(const QStringList& fields, int timeoutMs = transferMs)
    {
        return QTest::qWaitFor([&] { return lines.contains(fields); }, timeoutMs);
    }

    // The last status reported for the transfer ("download" or "upload") of the remote path.
    QString Status(const QString& kind, const QString& path) const
    {
        for (int index = lines.size() - 1; index >= 0; --index)
            if (lines[index].size() == 3 && lines[index][0] == kind && lines[index][1] == path)
                return lines[index][2];
        return QString();
    }

    // Every status the transfer went through, in order.
    QStringList History(const QString& kind, const QString& path) const
    {
        QStringList statuses;
        for (const QStringList& line : lines)
            if (line.size() == 3 && line[0] == kind && line[1] == path)
                statuses << line[2];
        return statuses;
    }

    // The shared files the client announced, remote path to size.
    QMap<QString, qint64> Shared() const
    {
        QMap<QString, qint64> shared;
        for (const QStringList& line : lines)
            if (line.size() == 3 && line[0] == "shared")
                shared.insert(line[1], line[2].toLongLong());
        return shared;
    }

    // Ends the run as a user would, when it still runs; true when the client ended cleanly or
    // was killed by the test, false when it crashed or failed on its way out.
    bool End()
    {
        if (process.state() != QProcess::NotRunning)
        {
            Command({"quit"});
            if (!QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; },
                                 startMs))
                return false;
        }
        return killed || (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0);
    }

    void Kill()
    {
        process.kill();
        process.waitForFinished();
        killed = true;
    }

    QString Name() const { return user; }

    QList<QStringList> lines;

private:
    void ReadLines()
    {
        while (process.canReadLine())
            lines << QString::fromUtf8(process.readLine()).chopped(1).split('\t');
    }

    QString user;
    QString home;
    quint16 serverPort;
    QProcess process;
    bool killed = false;
};

QByteArray Pattern(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : bytes)
        byte = char(generator.generate());
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
} // namespace

// A file moving between two whole clients, each in a process and home folder of its own, both
// logged in to one loopback server that introduces them to each other.
class TwoClientsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sharedFilesArriveWholeInTheCompleteFolder();
    void downloadKeepsAPartialFileAndAppendsTheRest();
    void downloadFinishesAfterTheUploaderRestarts();
    void downloadFinishesAfterTheDownloaderRestarts();
    void browsedShareOffersEveryFileToDownload();
    void removedDownloadLetsTheNextOneStart();
    void queuedDownloadWaitsForItsOwnerToComeOnline();
    void clientsDownloadFromEachOtherAtOnce();
    void firewalledClientIsReachedThroughTheServer_data();
    void firewalledClientIsReachedThroughTheServer();
    void fileOutsideTheShareIsDenied();
    void fileThatChangedSizeIsRefusedNotMixed();
    void fileRewrittenAfterTheScanSettlesInFewAttempts_data();
    void fileRewrittenAfterTheScanSettlesInFewAttempts();

private:
    // Starts both clients and has alice share her folder; false when either fails to.
    bool StartBoth();
    // bob's path for a file of the shared folder, in the "downloading" or "complete" folder.
    QString Target(const QString& name, bool complete) const;
    QString RemotePath(const QString& name) const;
    // bob queues alice's file, with the size he was shown (the file's own by default).
    void Download(const QString& name, qint64 size = -1);

    std::unique_ptr<FakeCentralHub> hub;
    std::unique_ptr<QTemporaryDir> aliceHome;
    std::unique_ptr<QTemporaryDir> bobHome;
    std::unique_ptr<ClientProcess> alice;
    std::unique_ptr<ClientProcess> bob;
    QString shareFolder;
    QMap<QString, QByteArray> files;
};

void TwoClientsTest::init()
{
    hub = std::make_unique<FakeCentralHub>();
    aliceHome = std::make_unique<QTemporaryDir>();
    bobHome = std::make_unique<QTemporaryDir>();
    alice = std::make_unique<ClientProcess>("alice", aliceHome->path(), hub->Port());
    bob = std::make_unique<ClientProcess>("bob", bobHome->path(), hub->Port());
    shareFolder = aliceHome->path() + "/music";
    files = {{"empty.dat", QByteArray()},
             {"notes.txt", "a few words\n"},
             {QString::fromUtf8("Bjørk – 日本語 ütf.txt"), Pattern(70000, 7)},
             {"big.bin", Pattern(5 * 1024 * 1024 + 321, 11)}};
    for (auto file = files.cbegin(); file != files.cend(); ++file)
        QVERIFY(WriteFile(shareFolder + "/" + file.key(), file.value()));
}

void TwoClientsTest::cleanup()
{
    // What each client reported, to tell which side stopped where.
    if (QTest::currentTestFailed())
        for (const auto* client : {alice.get(), bob.get()})
            for (const QStringList& line : client->lines)
                qWarning("%s: %s", qPrintable(client->Name()), qPrintable(line.join(" | ")));
    // Both shut down cleanly, whatever the test left running.
    const bool aliceEnded = alice->End();
    const bool bobEnded = bob->End();
    alice.reset();
    bob.reset();
    hub.reset();
    QVERIFY(aliceEnded);
    QVERIFY(bobEnded);
}

bool TwoClientsTest::StartBoth()
{
    if (!alice->Start() || !bob->Start())
        return false;
    alice->Command({"share", shareFolder});
    return alice->WaitFor({"shared_done"}, startMs);
}

QString TwoClientsTest::Target(const QString& name, bool complete) const
{
    return bobHome->path() + "/Vandrell Downloads/" + (complete ? "complete" : "downloading") +
           "/music/" + name;
}

QString TwoClientsTest::RemotePath(const QString& name) const
{
    return QString(shareFolder + "/" + name).replace('/', '\\');
}

void TwoClientsTest::Download(const QString& name, qint64 size)
{
    bob->Command({"download", "alice", RemotePath(name),
                  QString::number(size < 0 ? files[name].size() : size)});
}

void TwoClientsTest::sharedFilesArriveWholeInTheCompleteFolder()
{
    QVERIFY(StartBoth());
    QMap<QString, qint64> expected;
    for (auto file = files.cbegin(); file != files.cend(); ++file)
        expected.insert(RemotePath(file.key()), file.value().size());
    QCOMPARE(alice->Shared(), expected);

    for (const QString& name : files.keys())
        Download(name);
    for (const QString& name : files.keys())
    {
        QVERIFY2(bob->WaitFor({"download", RemotePath(name), "complete"}), qPrintable(name));
        QVERIFY2(alice->WaitFor({"upload", RemotePath(name), "complete"}), qPrintable(name));
    }
    for (const QString& name : files.keys())
    {
        QCOMPARE(ReadFile(Target(name, true)), files[name]);
        QVERIFY2(!QFile::exists(Target(name, false)), qPrintable(name));
    }
    // Nothing failed on the way, on either side.
    for (const QString& name : files.keys())
        for (const QStringList& history : {bob->History("download", RemotePath(name)),
                                           alice->History("upload", RemotePath(name))})
            for (const char* failure : {"aborted", "denied", "local error"})
                QVERIFY2(!history.contains(failure), qPrintable(name + ": " + history.join(",")));
}

void TwoClientsTest::downloadKeepsAPartialFileAndAppendsTheRest()
{
    // The partial file's first bytes differ from alice's: a client that resumes trusts what it
    // holds, so they show that only the rest was fetched.
    const QString name = "big.bin";
    const int held = 1024 * 1024 + 17;
    QByteArray partial = files[name].left(held);
    partial.replace(0, 8, "RESUMED!");
    QVERIFY(WriteFile(Target(name, false), partial));

    QVERIFY(StartBoth());
    Download(name);
    QVERIFY(bob->WaitFor({"download", RemotePath(name), "complete"}));
    QVERIFY(alice->WaitFor({"upload", RemotePath(name), "complete"}));
    QCOMPARE(ReadFile(Target(name, true)), partial + files[name].mid(held));
    QVERIFY(!QFile::exists(Target(name, false)));
}

void TwoClientsTest::downloadFinishesAfterTheUploaderRestarts()
{
    const QString name = "big.bin";
    QVERIFY(StartBoth());
    // The share must outlive the crash, as it does once the store has been saved.
    alice->Command({"save"});
    QVERIFY(alice->WaitFor({"saved"}));
    // Slow enough to be cut off part way.
    alice->Command({"limit", "512"});
    Download(name);
    QVERIFY(QTest::qWaitFor([&] { return QFileInfo(Target(name, false)).size() > 256 * 1024; },
                            transferMs));
    alice->Kill();
    QVERIFY(hub->WaitForLogin("alice", false));
    const qint64 held = QFileInfo(Target(name, false)).size();
    QVERIFY(held < files[name].size());
    QTRY_VERIFY_WITH_TIMEOUT(bob->Status("download", RemotePath(name)) != "downloading",
                             transferMs);

    QVERIFY(alice->Start());
    QVERIFY(bob->WaitFor({"download", RemotePath(name), "complete"}));
    QVERIFY(alice->WaitFor({"upload", RemotePath(name), "complete"}));
    QCOMPARE(ReadFile(Target(name, true)), files[name]);
    QVERIFY(!QFile::exists(Target(name, false)));
}

void TwoClientsTest::downloadFinishesAfterTheDownloaderRestarts()
{
    const QString name = "big.bin";
    QVERIFY(StartBoth());
    alice->Command({"limit", "512"});
    Download(name);
    QVERIFY(QTest::qWaitFor([&] { return QFileInfo(Target(name, false)).size() > 256 * 1024; },
                            transferMs));
    // Saved mid-download, as the hourly save may do, then gone without a word.
    bob->Command({"save"});
    QVERIFY(bob->WaitFor({"saved"}));
    bob->Kill();
    QVERIFY(hub->WaitForLogin("bob", false));
    QVERIFY(QFileInfo(Target(name, false)).size() < files[name].size());
    alice->Command({"limit", "0"});

    QVERIFY(bob->Start());
    QVERIFY(bob->WaitFor({"download", RemotePath(name), "complete"}));
    QVERIFY(alice->WaitFor({"upload", RemotePath(name), "complete"}));
    QCOMPARE(ReadFile(Target(name, true)), files[name]);
    QVERIFY(!QFile::exists(Target(name, false)));
}

void TwoClientsTest::browsedShareOffersEveryFileToDownload()
{
    QVERIFY(StartBoth());
    bob->Command({"browse", "alice"});
    QVERIFY(bob->WaitFor({"browsed_done", "alice"}));
    QMap<QString, qint64> browsed;
    for (const QStringList& line : bob->lines)
        if (line.size() == 4 && line[0] == "browsed" && line[1] == "alice")
            browsed.insert(line[2], line[3].toLongLong());
    QMap<QString, qint64> expected;
    for (auto file = files.cbegin(); file != files.cend(); ++file)
        expected.insert(RemotePath(file.key()), file.value().size());
    QCOMPARE(browsed, expected);

    // Queued as the browse showed them, names and sizes as they came.
    for (auto file = browsed.cbegin(); file != browsed.cend(); ++file)
        bob->Command({"download", "alice", file.key(), QString::number(file.value())});
    for (const QString& name : files.keys())
    {
        QVERIFY2(bob->WaitFor({"download", RemotePath(name), "complete"}), qPrintable(name));
        QCOMPARE(ReadFile(Target(name, true)), files[name]);
    }
}

void TwoClientsTest::removedDownloadLetsTheNextOneStart()
{
    // alice sends one file at a time to a user: notes.txt waits behind the slowed big.bin.
    QVERIFY(StartBoth());
    alice->Command({"limit", "256"});
    Download("big.bin");
    QVERIFY(alice->WaitFor({"upload", RemotePath("big.bin"), "uploading"}));
    Download("notes.txt");
    QVERIFY(alice->WaitFor({"upload", RemotePath("notes.txt"), "queued"}));
    QVERIFY(QTest::qWaitFor([&] { return QFileInfo(Target("big.bin", false)).size() > 0; },
                            transferMs));

    bob->Command({"remove", "alice", RemotePath("big.bin")});
    QVERIFY(alice->WaitFor({"upload", RemotePath("big.bin"), "aborted"}));
    QVERIFY(bob->WaitFor({"download", RemotePath("notes.txt"), "complete"}));
    QVERIFY(alice->WaitFor({"upload", RemotePath("notes.txt"), "complete"}));
    QCOMPARE(ReadFile(Target("notes.txt", true)), files["notes.txt"]);
    QVERIFY(!QFile::exists(Target("big.bin", true)));
    // Its failure notice finds no download at bob's to bring back.
    QCOMPARE(bob->Status("download", RemotePath("big.bin")), QString("removed"));
    QVERIFY(alice->History("upload", RemotePath("big.bin")).endsWith("aborted"));
}

void TwoClientsTest::queuedDownloadWaitsForItsOwnerToComeOnline()
{
    QVERIFY(alice->Start());
    alice->Command({"share", shareFolder});
    QVERIFY(alice->WaitFor({"shared_done"}));
    QVERIFY(alice->End());
    QVERIFY(hub->WaitForLogin("alice", false));

    QVERIFY(bob->Start());
    const QString name = QString::fromUtf8("Bjørk – 日本語 ütf.txt");
    Download(name);
    Download("notes.txt");
    QVERIFY(bob->WaitFor({"download", RemotePath("notes.txt"), "queued"}));
    QVERIFY(bob->WaitFor({"download", RemotePath(name), "queued"}));

    // Her saved share comes back with her; bob's queue goes to her as she logs in.
    QVERIFY(alice->Start());
    QVERIFY(bob->WaitFor({"download", RemotePath(name), "complete"}));
    QVERIFY(bob->WaitFor({"download", RemotePath("notes.txt"), "complete"}));
    QCOMPARE(ReadFile(Target(name, true)), files[name]);
    QCOMPARE(ReadFile(Target("notes.txt", true)), files["notes.txt"]);
}

void TwoClientsTest::clientsDownloadFromEachOtherAtOnce()
{
    const QString bobFolder = bobHome->path() + "/photos";
    const QByteArray photo = Pattern(3 * 1024 * 1024 + 5, 23);
    QVERIFY(WriteFile(bobFolder + "/holiday.jpg", photo));
    QVERIFY(StartBoth());
    bob->Command({"share", bobFolder});
    QVERIFY(bob->WaitFor({"shared_done"}));

    const QString photoPath = QString(bobFolder + "/holiday.jpg").replace('/', '\\');
    alice->Command({"download", "bob", photoPath, QString::number(photo.size())});
    Download("big.bin");
    QVERIFY(alice->WaitFor({"download", photoPath, "complete"}));
    QVERIFY(bob->WaitFor({"download", RemotePath("big.bin"), "complete"}));
    QVERIFY(bob->WaitFor({"upload", photoPath, "complete"}));
    QVERIFY(alice->WaitFor({"upload", RemotePath("big.bin"), "complete"}));
    QCOMPARE(ReadFile(aliceHome->path() + "/Vandrell Downloads/complete/photos/holiday.jpg"),
             photo);
    QCOMPARE(ReadFile(Target("big.bin", true)), files["big.bin"]);
}

void TwoClientsTest::firewalledClientIsReachedThroughTheServer_data()
{
    QTest::addColumn<QString>("firewalled");
    QTest::newRow("uploader") << "alice";
    QTest::newRow("downloader") << "bob";
}

void TwoClientsTest::firewalledClientIsReachedThroughTheServer()
{
    // Dialling the firewalled client fails; it dials back when the server relays the request.
    QFETCH(QString, firewalled);
    hub->SetFirewalled(firewalled);
    QVERIFY(StartBoth());
    const QString name = QString::fromUtf8("Bjørk – 日本語 ütf.txt");
    Download(name);
    Download("big.bin");
    for (const QString& file : {name, QString("big.bin")})
    {
        QVERIFY2(bob->WaitFor({"download", RemotePath(file), "complete"}), qPrintable(file));
        QVERIFY2(alice->WaitFor({"upload", RemotePath(file), "complete"}), qPrintable(file));
        QCOMPARE(ReadFile(Target(file, true)), files[file]);
    }
}

void TwoClientsTest::fileOutsideTheShareIsDenied()
{
    // Beside the shared folder, and reached through it by a parent step.
    QVERIFY(WriteFile(aliceHome->path() + "/private.txt", "not for bob"));
    QVERIFY(StartBoth());
    const QStringList paths = {QString(aliceHome->path() + "/private.txt").replace('/', '\\'),
                               RemotePath("..\\private.txt")};
    for (const QString& path : paths)
        bob->Command({"download", "alice", path, "11"});
    for (const QString& path : paths)
        QVERIFY2(bob->WaitFor({"download", path, "denied"}), qPrintable(path));
    Download("notes.txt");
    QVERIFY(bob->WaitFor({"download", RemotePath("notes.txt"), "complete"}));
    QDirIterator arrived(bobHome->path() + "/Vandrell Downloads", QDir::Files,
                         QDirIterator::Subdirectories);
    while (arrived.hasNext())
        QVERIFY2(!arrived.next().endsWith("private.txt"), qPrintable(arrived.filePath()));
    for (const QStringList& line : alice->lines)
        QVERIFY2(line.value(0) != "upload" || !line.value(1).contains("private"),
                 qPrintable(line.join(" ")));
}

void TwoClientsTest::fileThatChangedSizeIsRefusedNotMixed()
{
    // bob was shown sizes from before alice's files changed: one grew, one shrank. The versions
    // differ from what he chose, so neither is written; the entries say why.
    QVERIFY(StartBoth());
    Download("notes.txt", 5);
    const QString name = QString::fromUtf8("Bjørk – 日本語 ütf.txt");
    Download(name, 90000);
    for (const QString& changed : {QString("notes.txt"), name})
    {
        QVERIFY2(bob->WaitFor({"download", RemotePath(changed), "denied"}), qPrintable(changed));
        QVERIFY(!QFile::exists(Target(changed, true)));
        QVERIFY(!QFile::exists(Target(changed, false)));
    }
}

void TwoClientsTest::fileRewrittenAfterTheScanSettlesInFewAttempts_data()
{
    QTest::addColumn<bool>("queuedAsOnDisk");
    QTest::newRow("queued at the size the scan saw") << false;
    QTest::newRow("queued at the size on the disk") << true;
}

void TwoClientsTest::fileRewrittenAfterTheScanSettlesInFewAttempts()
{
    // alice's file changes after her scan, as editing its tags does: she offers it as it is
    // now, so bob either fetches that version whole or refuses it, and neither side retries.
    QFETCH(bool, queuedAsOnDisk);
    QVERIFY(StartBoth());
    const QString name = "notes.txt";
    const QByteArray rewritten = Pattern(6000, 31);
    QVERIFY(WriteFile(shareFolder + "/" + name, rewritten));
    QCOMPARE(alice->Shared().value(RemotePath(name)), qint64(files[name].size()));
    Download(name, queuedAsOnDisk ? rewritten.size() : files[name].size());
    if (queuedAsOnDisk)
    {
        QVERIFY(bob->WaitFor({"download", RemotePath(name), "complete"}));
        QCOMPARE(ReadFile(Target(name, true)), rewritten);
    }
    else
    {
        QVERIFY(bob->WaitFor({"download", RemotePath(name), "denied"}));
        QVERIFY(!QFile::exists(Target(name, true)));
        QVERIFY(!QFile::exists(Target(name, false)));
    }
    // A file queued next goes through, and the changed one was not tried again meanwhile.
    const QString next = QString::fromUtf8("Bjørk – 日本語 ütf.txt");
    Download(next);
    QVERIFY(bob->WaitFor({"download", RemotePath(next), "complete"}));
    const QStringList tries = alice->History("upload", RemotePath(name));
    QVERIFY2(tries.count("requesting") <= 2, qPrintable(tries.join(",")));
    QVERIFY2(tries.count("aborted") == 0, qPrintable(tries.join(",")));
    QVERIFY2(bob->History("download", RemotePath(name)).count("queued") <= 2,
             qPrintable(bob->History("download", RemotePath(name)).join(",")));
}

QTEST_MAIN(TwoClientsTest)
#include "tst_two_clients.moc"
