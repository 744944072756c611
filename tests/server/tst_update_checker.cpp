#include <memory>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

#include "Data.h"
#include "FakeHttpServer.h"
#include "Log.h"
#include "Server.h"
#include "Settings.h"
#include "UpdateChecker.h"

namespace {
const QString versionPath = "/qtversion.txt";
// Short enough for a silent server to be given up on quickly, long enough for loopback.
constexpr int testTimeoutMs = 500;

int RequestsInFlight(const QNetworkAccessManager* client)
{
    int count = 0;
    for (const QNetworkReply* reply : client->findChildren<QNetworkReply*>())
        count += reply->isFinished() ? 0 : 1;
    return count;
}
} // namespace

class UpdateCheckerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QNetworkReply*>();
        Settings::DeclareTypes(d);
        Settings::Set("show_diagnostics", "yes");
        SetLogSink([this](const QString& area, int, const QString& text, ItemPtr) {
            logLines << area + ": " + text;
        });
        Log("test", 1, "the sink is live");
        QCOMPARE(logLines.size(), 1);
    }

    void cleanupTestCase() { SetLogSink(LogSink()); }

    void init()
    {
        Settings::Clear("skip_version");
        logLines.clear();
        fake = std::make_unique<FakeHttpServer>();
        checker = std::make_unique<UpdateChecker>();
        checker->SetVersionFileUrlForTesting(fake->Url(versionPath), testTimeoutMs);
    }

    void announcesOnlyNewerBuilds_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("link"); // empty: nothing is announced
        QTest::addColumn<QStringList>("description");
        const QByteArray newer = "20140301\nhttp://a\nb\nline\n";
        const QString link = "http://a/Linux/b.tgz";
        QTest::newRow("CR LF, blanks trimmed, empty line kept, unterminated line left out")
            << QByteArray("20140301\r\n  http://a \r\nb\r\nFixes:\r\n\r\n  faster  \r\ncut off")
            << "" << 200 << false << link << QStringList{"Fixes:", "", "faster"};
        QTest::newRow("three lines, last one unterminated")
            << QByteArray("20130213\nhttp://a\nb") << "" << 200 << false << link << QStringList{};
        QTest::newRow("newer than the skipped build")
            << newer << "20140228" << 200 << false << link << QStringList{"line"};
        QTest::newRow("bytes above 127 are one character each")
            << QByteArray("20140301\nhttp://a\nb\ncaf\xe9\n") << "" << 200 << false << link
            << QStringList{QString::fromLatin1("caf\xe9")};
        const auto nothing = [](const char* name, const QByteArray& body, const QString& skipped,
                                int status = 200, bool silent = false) {
            QTest::newRow(name) << body << skipped << status << silent << QString()
                                << QStringList();
        };
        nothing("this build", "20130212\nhttp://a\nb\n", "");
        nothing("older build", "20121231\nhttp://a\nb\n", "");
        nothing("skipped build", newer, "20140301");
        nothing("older than skipped", newer, "20150101");
        nothing("no number", "soon\nhttp://a\nb\n", "");
        nothing("empty link", "20140301\n\nb\nline\n", "");
        nothing("blank file name", "20140301\nhttp://a\n  \r\nline\n", "");
        nothing("empty file", "", "");
        nothing("error status with a good file", newer, "", 503);
        nothing("never answers", newer, "", 200, true);
    }

    void announcesOnlyNewerBuilds()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, skipped);
        QFETCH(int, status);
        QFETCH(bool, silent);
        QFETCH(QString, link);
        if (!skipped.isEmpty())
            Settings::Set("skip_version", skipped);
        fake->Serve(versionPath, body, status);
        fake->SetSilent(silent);
        QSignalSpy announced(checker.get(), &UpdateChecker::NewVersion);
        QSignalSpy finished(checker->findChild<QNetworkAccessManager*>(),
                            &QNetworkAccessManager::finished);
        checker->CheckForNewVersion();
        // The checker's own handler has run by the time the wait returns.
        QVERIFY(finished.wait(5000));
        QCOMPARE(fake->requests, QStringList{versionPath});
        QCOMPARE(logLines, QStringList());
        QCOMPARE(announced.count(), link.isEmpty() ? 0 : 1);
        if (link.isEmpty())
            return;
        QCOMPARE(announced[0][0].toLongLong(), body.left(8).toLongLong());
        QCOMPARE(announced[0][1].toString(), link);
        QTEST(announced[0][2].toStringList(), "description");
    }

    void asksOnlyAfterFirstLogin()
    {
        fake->Serve(versionPath, "20140301\nhttp://a\nb\n");
        Server server;
        checker->Init();
        QSignalSpy announced(checker.get(), &UpdateChecker::NewVersion);
        const auto* client = checker->findChild<QNetworkAccessManager*>();
        QCOMPARE(RequestsInFlight(client), 0);
        emit server.Connected();
        emit server.Connected();
        QCOMPARE(RequestsInFlight(client), 1);
        QVERIFY(announced.wait(5000));
        emit server.Connected();
        QCOMPARE(RequestsInFlight(client), 0);
        QCOMPARE(fake->requests, QStringList{versionPath});
    }

private:
    std::unique_ptr<FakeHttpServer> fake;
    std::unique_ptr<UpdateChecker> checker;
    QStringList logLines;
};

QTEST_MAIN(UpdateCheckerTest)
#include "tst_update_checker.moc"
