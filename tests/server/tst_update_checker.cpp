#include <memory>

#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

#include "Data.h"
#include "FakeHttpServer.h"
#include "Server.h"
#include "Settings.h"
#include "UpdateChecker.h"

namespace {
const QString versionPath = "/qtversion.txt";
// Short enough for a silent server to be given up on quickly, long enough for loopback.
constexpr int testTimeoutMs = 500;

int RequestsInFlight(const UpdateChecker& checker)
{
    int count = 0;
    for (const QNetworkReply* reply : checker.findChildren<QNetworkReply*>())
        count += reply->isFinished() ? 0 : 1;
    return count;
}
} // namespace

class UpdateCheckerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Settings::DeclareTypes(d); }

    void init()
    {
        fake = std::make_unique<FakeHttpServer>();
        checker = std::make_unique<UpdateChecker>();
        checker->SetVersionFileUrlForTesting(fake->Url(versionPath), testTimeoutMs);
    }

    void announcesOnlyNewerBuilds_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("announces");
        QTest::addColumn<QStringList>("description");
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<int>("status"); // 0: the server never answers
        const auto row = [](const char* name, const QByteArray& body, bool announces,
                            const QStringList& description = {}, const QString& skipped = "",
                            int status = 200) {
            QTest::newRow(name) << body << announces << description << skipped << status;
        };
        const QByteArray newer = "20140301\nhttp://a\nb\nline\n";
        // Bytes above 127 are one character each.
        row("CR LF, blanks trimmed, empty line kept, unterminated line left out",
            "20140301\r\n  http://a \r\nb\r\nFixes:\r\n\r\n  caf\xe9  \r\ncut off", true,
            {"Fixes:", "", QString::fromLatin1("caf\xe9")});
        row("three lines, last one unterminated", "20130213\nhttp://a\nb", true);
        row("newer than the skipped build", newer, true, {"line"}, "20140228");
        row("this build", "20130212\nhttp://a\nb\n", false);
        row("skipped build", newer, false, {}, "20140301");
        row("no number", "soon\nhttp://a\nb\n", false);
        row("empty link", "20140301\n\nb\nline\n", false);
        row("blank file name", "20140301\nhttp://a\n  \r\nline\n", false);
        row("error status with a good file", newer, false, {}, "", 503);
        row("never answers", newer, false, {}, "", 0);
        row("body far over any version file", newer + QByteArray(200 * 1024, 'x') + "\n", false);
    }

    void announcesOnlyNewerBuilds()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, announces);
        QFETCH(QStringList, description);
        QFETCH(QString, skipped);
        QFETCH(int, status);
        Settings::Set("skip_version", skipped);
        fake->Serve(versionPath, body, status);
        fake->SetSilent(status == 0);
        QSignalSpy announced(checker.get(), &UpdateChecker::NewVersion);
        checker->CheckForNewVersion();
        QTRY_COMPARE(RequestsInFlight(*checker), 0);
        const QVariantList expected{body.left(8).toLongLong(), QString("http://a/Linux/b.tgz"),
                                    description};
        QCOMPARE(QList<QVariantList>(announced),
                 announces ? QList<QVariantList>{expected} : QList<QVariantList>());
    }

    void asksOnlyAfterFirstLogin()
    {
        fake->Serve(versionPath, "20140301\nhttp://a\nb\n");
        Server server;
        checker->Init();
        QSignalSpy announced(checker.get(), &UpdateChecker::NewVersion);
        QCOMPARE(RequestsInFlight(*checker), 0);
        emit server.Connected();
        emit server.Connected();
        QCOMPARE(RequestsInFlight(*checker), 1);
        QVERIFY(announced.wait(5000));
        emit server.Connected();
        QCOMPARE(RequestsInFlight(*checker), 0);
        QCOMPARE(fake->requests, QStringList{versionPath});
    }

private:
    std::unique_ptr<FakeHttpServer> fake;
    std::unique_ptr<UpdateChecker> checker;
};

QTEST_MAIN(UpdateCheckerTest)
#include "tst_update_checker.moc"
