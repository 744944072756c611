#include <memory>

#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtTest>

#include "Data.h"
#include "DiagnosticsForm.h"
#include "Log.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "ServerTypes.h"
#include "Settings.h"

namespace {
using namespace DiagnosticsTypes;

// Sees each record at the moment it is attached to its item.
struct RecordWatcher : DataHandler
{
    QStringList seen;
    void OnAttached(ConnectionInfo& info) { seen << info.to[logOrder].AsString(); }
};

ItemPtr User(const char* name)
{
    return d.GetType(ServerTypes::user)->GetItem(name);
}

QDir LogFolder()
{
    return QDir(QDir::homePath() + "/" + DiagnosticsForm::logFolder);
}
} // namespace

class LogTest : public QObject
{
    Q_OBJECT

    Server server;
    std::unique_ptr<DiagnosticsForm> form;

    QTabWidget* Tabs() const { return form->findChild<QTabWidget*>("logTabWidget"); }

    // The lines of the area's tab as shown, once the pending ones are flushed.
    QStringList Shown(const QString& area)
    {
        form->FlushLogLines();
        QTabWidget* tabs = Tabs();
        for (int index = 0; index < tabs->count(); ++index)
            if (tabs->tabText(index) == area)
                return qobject_cast<QTextBrowser*>(tabs->widget(index))->toPlainText().split('\n');
        return {};
    }

    QStringList TrackedRows() const
    {
        auto* tree = form->findChild<QTreeWidget*>("trackedUsersTree");
        QStringList rows;
        for (int index = 0; index < tree->topLevelItemCount(); ++index)
            rows << tree->topLevelItem(index)->text(0) + "/" + tree->topLevelItem(index)->text(1);
        return rows;
    }

    static QByteArray FileOf(const QString& area)
    {
        QFile file(DiagnosticsForm::LogFilePath(area));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Checks the "[time] " stamp, which must fall within the test, and returns the rest.
    static QString Unstamped(const QString& line, const QDateTime& since)
    {
        const int end = line.indexOf("] ");
        if (!line.startsWith('[') || end < 0)
            return "unstamped: " + line;
        const QDateTime time = QDateTime::fromString(line.mid(1, end - 1), Qt::TextDate);
        if (!time.isValid() || time < since.addSecs(-1) || time > QDateTime::currentDateTime())
            return "bad time: " + line;
        return line.mid(end + 2);
    }

private slots:
    void initTestCase() { ServerTestSetup::DeclareTypes(server); }

    void init()
    {
        d.RemoveAllItems();
        LogFolder().removeRecursively();
        Settings::Set(LogSettings::showDiagnostics, "yes");
        Settings::Set(LogSettings::userLevelLogging, "no");
        form = std::make_unique<DiagnosticsForm>();
        form->Init();
        form->RegisterLoggableItemType(ServerTypes::user);
    }

    void cleanup() { form.reset(); }

    void logsNothingWhileDiagnosticsAreHidden()
    {
        Settings::Set(LogSettings::userLevelLogging, "yes");
        for (const char* hidden : {"no", ""})
        {
            Settings::Set(LogSettings::showDiagnostics, hidden);
            Log("server", 1, "hidden", User("alice"));
            Log(QString("server"), 1, QString("hidden"));
            form->FlushLogLines();
            QVERIFY(!LogEnabled());
            QCOMPARE(Tabs()->count(), 0);
            QCOMPARE(d.GetType(DiagnosticsTypes::log)->ItemCount(), size_t(0));
            QCOMPARE(d.GetType(itemLog)->ItemCount(), size_t(0));
            QVERIFY(!LogFolder().exists());
        }
        Settings::Set(LogSettings::showDiagnostics, "yes");
        Log("server", 1, "shown");
        QCOMPARE(Shown("server").size(), 1);
        form.reset();
        Log("server", 1, "no window"); // must not reach the freed form
        QVERIFY(!LogEnabled());
    }

    void showsStampedIndentedPlainLinesInAreaTabs()
    {
        const QDateTime start = QDateTime::currentDateTime();
        Log("Transfer Queue", 1, "first");
        Log("server", 2, "second");
        Log("Transfer Queue", 3, "<b>x</b> & <a href='y'>z</a>");
        Log(QString("server"), 0, QString("level zero"));
        QStringList titles;
        for (int index = 0; index < Tabs()->count(); ++index)
            titles << Tabs()->tabText(index);
        QCOMPARE(titles, (QStringList{"Transfer Queue", "server"}));

        QStringList transfers;
        for (const QString& line : Shown("Transfer Queue"))
            transfers << Unstamped(line, start);
        QCOMPARE(transfers, (QStringList{"first", "      <b>x</b> & <a href='y'>z</a>"}));
        QStringList serverLines;
        for (const QString& line : Shown("server"))
            serverLines << Unstamped(line, start);
        QCOMPARE(serverLines, (QStringList{"   second", "level zero"}));
    }

    void floodOfLinesIsShownWhole()
    {
        constexpr int count = 12000;
        for (int index = 0; index < count; ++index)
            Log("Search", 1, QString::number(index));
        auto* browser = qobject_cast<QTextBrowser*>(Tabs()->widget(0));
        QTRY_COMPARE(browser->document()->blockCount(), count);
        const QStringList lines = browser->toPlainText().split('\n');
        QVERIFY(lines.first().endsWith("] 0"));
        QVERIFY(lines[5000].endsWith("] 5000"));
        QVERIFY(lines.last().endsWith("] 11999"));
    }

    void newWindowStartsWithFreshTabs()
    {
        Log("server", 1, "old");
        QCOMPARE(d.GetType(logWidget)->ItemCount(), size_t(1));
        form = std::make_unique<DiagnosticsForm>();
        form->Init();
        QCOMPARE(d.GetType(logWidget)->ItemCount(), size_t(0));
        Log("server", 1, "new");
        QCOMPARE(Tabs()->count(), 1);
        QCOMPARE(Shown("server").size(), 1);
        QVERIFY(Shown("server").first().endsWith("] new"));
    }

    void userLevelLoggingWritesTheAreaFile()
    {
        Log("Search", 1, "before"); // the page exists before the file is wanted
        Settings::Set(LogSettings::userLevelLogging, "yes");
        const QDateTime start = QDateTime::currentDateTime();
        Log("Transfer Queue", 1, "one");
        Log("Transfer Queue", 2, QString::fromUtf8("caf\xC3\xA9 \xE2\x98\x83"));
        Log("Search", 1, "after");
        Log("../../escape", 1, "kept in");

        const QList<QByteArray> lines = FileOf("Transfer Queue").split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].startsWith("* Logging started at "));
        const QDateTime started = QDateTime::fromString(lines[0].mid(21), Qt::TextDate);
        QVERIFY(started.isValid() && started >= start.addSecs(-1));
        QCOMPARE(Unstamped(lines[1], start), QString("one"));
        QCOMPARE(lines[2].mid(lines[2].indexOf("] ") + 2), QByteArray("   caf\xE9 ?"));
        QCOMPARE(lines[3], QByteArray());

        QCOMPARE(FileOf("Search").count('\n'), 1);
        QVERIFY(FileOf("Search").endsWith("] after\n"));
        QStringList files = LogFolder().entryList(QDir::Files);
        files.sort();
        QCOMPARE(files, (QStringList{"Search.log", "Transfer Queue.log", "______escape.log"}));
        QCOMPARE(QDir::home().entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{DiagnosticsForm::logFolder});
    }

    void recordsAccumulateOnRegisteredItems()
    {
        Settings::Set(LogSettings::userLevelLogging, "yes");
        RecordWatcher watcher;
        d.AddConnectionHandler(d.GetType(ServerTypes::user), d.GetType(itemLog), &watcher,
                               &RecordWatcher::OnAttached);
        const ItemPtr alice = User("alice");
        const ItemPtr room = d.GetType(ServerTypes::room)->GetItem("lobby");
        Log("server", 1, "first", alice);
        Log("server", 3, "second", alice);
        Log("server", 1, "not loggable", room);
        Log("server", 1, "no item");
        Log("Search", 2, "third", alice);

        QCOMPARE(d.GetType(itemLog)->ItemCount(), size_t(3));
        QCOMPARE(watcher.seen.size(), 3);
        QStringList records;
        alice.GetItems(itemLog).ForEach([&](ItemPtr record) {
            QVERIFY(QDateTime::fromString(record[logTime].AsString(), Qt::TextDate).isValid());
            records << QString("%1 %2 %3 %4")
                           .arg(record[logOrder].AsString(), record[logArea].AsString(),
                                record[logLevel].AsString(), record[logText].AsString());
        });
        records.sort();
        const qint64 first = records.first().section(' ', 0, 0).toLongLong();
        QCOMPARE(records, (QStringList{QString("%1 server 1 first").arg(first),
                                       QString("%1 server 3 second").arg(first + 1),
                                       QString("%1 Search 2 third").arg(first + 2)}));
        watcher.seen.sort();
        QCOMPARE(watcher.seen, (QStringList{QString::number(first), QString::number(first + 1),
                                            QString::number(first + 2)}));
        QVERIFY(Shown("server").last().endsWith("] no item"));
    }

    void trackedUsersFollowTrackingAndOnlineState()
    {
        Type* tracked = d.GetType(ServerTypes::isTracked);
        Type* online = d.GetType(ServerTypes::isOnline);
        const ItemPtr alice = User("alice");
        const ItemPtr bob = User("bob <i>");
        alice.Connect(online->GetGlobalNullItem());
        alice.Connect(tracked->GetGlobalNullItem());
        bob.Connect(tracked->GetGlobalNullItem());
        QCOMPARE(TrackedRows(), (QStringList{"alice/Online", "bob <i>/Offline"}));

        alice.Disconnect(ServerTypes::isOnline);
        bob.Connect(online->GetGlobalNullItem());
        QCOMPARE(TrackedRows(), (QStringList{"alice/Offline", "bob <i>/Online"}));

        alice.Disconnect(ServerTypes::isTracked);
        QVERIFY(alice[trackUserNode].IsNull());
        alice.Connect(online->GetGlobalNullItem());
        User("carol").Connect(online->GetGlobalNullItem());
        QCOMPARE(TrackedRows(), QStringList{"bob <i>/Online"});

        form.reset();
        QCOMPARE(d.GetType(trackUserNode)->ItemCount(), size_t(0));
        bob.Disconnect(ServerTypes::isOnline); // the old window's handlers are gone
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    LogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_log.moc"
