#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Starts a probe for the home folder and returns its answer, "alone" or "running". All probes of
// a test share one runtime folder, so only the home tells them apart and the lock is visible.
QString Start(QProcess& probe, const QString& runtime, const QString& home, bool hold)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.insert("XDG_RUNTIME_DIR", runtime);
    probe.setProcessEnvironment(environment);
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(SINGLE_INSTANCE_PROBE,
                hold ? QStringList{"VandrellQt", "hold"} : QStringList{"VandrellQt"});
    if (!probe.waitForReadyRead(5000))
        return "no answer";
    return QString::fromLatin1(probe.readLine()).trimmed();
}

bool EndsWith(QProcess& probe, int exitCode)
{
    probe.closeWriteChannel();
    return probe.waitForFinished(5000) && probe.exitCode() == exitCode;
}
} // namespace

class ShellSingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void secondStartWithSameHomeSeesTheFirst()
    {
        QTemporaryDir runtime, home, otherHome;
        QProcess first, second, elsewhere, third;
        QCOMPARE(Start(first, runtime.path(), home.path(), true), QString("alone"));
        QCOMPARE(Start(second, runtime.path(), home.path(), false), QString("running"));
        QVERIFY(EndsWith(second, 1));
        QCOMPARE(Start(elsewhere, runtime.path(), otherHome.path(), true), QString("alone"));

        // A normal exit gives the guard back.
        QVERIFY(EndsWith(first, 0));
        QCOMPARE(Start(third, runtime.path(), home.path(), false), QString("alone"));
        QVERIFY(EndsWith(third, 0));
        QVERIFY(EndsWith(elsewhere, 0));
    }

    void lockLeftByKilledRunDoesNotBlock()
    {
        QTemporaryDir runtime, home;
        QProcess crashed, next, second;
        QCOMPARE(Start(crashed, runtime.path(), home.path(), true), QString("alone"));
        crashed.kill();
        QVERIFY(crashed.waitForFinished(5000));
        QCOMPARE(QDir(runtime.path()).entryList({"*.lock"}, QDir::Files | QDir::Hidden).size(), 1);

        QCOMPARE(Start(next, runtime.path(), home.path(), true), QString("alone"));
        QCOMPARE(Start(second, runtime.path(), home.path(), false), QString("running"));
        QVERIFY(EndsWith(second, 1));
        QVERIFY(EndsWith(next, 0));
    }
};

QTEST_MAIN(ShellSingleInstanceTest)
#include "tst_single_instance.moc"
