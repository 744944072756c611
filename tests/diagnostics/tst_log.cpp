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

using namespace DiagnosticsTypes;

class LogTest : public QObject
{
    Q_OBJECT

    // Notes each record as "[time] user order area level text" the moment it reaches its item.
    struct RecordWatcher : DataHandler
    {
        QStringList seen;
        void OnAttached(ConnectionInfo& info)
        {
            seen << QString("[%1] %2 %3 %4 %5 %6")
                        .arg(info.to[logTime].AsString(), info.from.AsString(),
                             info.to[logOrder].AsString(), info.to[logArea].AsString(),
                             info.to[logLevel].AsString(), info.to[logText].AsString());
        }
    };

    QTemporaryDir home;
    Server server;
    std::unique_ptr<DiagnosticsForm> form;
    qint64 startSecond = 0;

    static ItemPtr User(const char* name) { return d.GetType(ServerTypes::user)->GetItem(name); }
    QDir LogFolder() const { return QDir(home.path() + "/qerv-client-logs"); }

    // The texts of "[time] text" lines stamped within the test; a file's header reads "started".
    QStringList Unstamped(const QString& lines) const
    {
        QStringList stamps, texts;
        for (qint64 second = startSecond; second <= QDateTime::currentSecsSinceEpoch(); ++second)
            stamps << "[" + QDateTime::fromSecsSinceEpoch(second).toString(Qt::TextDate);
        for (const QString& line : lines.split('\n'))
            texts << (stamps.contains(line.section("] ", 0, 0)) ? line.section("] ", 1)
                                                                : "badly stamped: " + line);
        return texts;
    }

    QStringList FileLines(const QString& area) const
    {
        QFile file(LogFolder().filePath(area + ".log"));
        file.open(QIODevice::ReadOnly);
        QString text = QString::fromLatin1(file.readAll());
        text.replace(QRegularExpression("^\\* Logging started at (.*)"), "[\\1] started");
        return text.endsWith('\n') ? Unstamped(text.chopped(1)) : QStringList{"unended"};
    }

    // Each shown line as "area: text", tab by tab, once the pending lines are flushed.
    QStringList Shown()
    {
        form->FlushLogLines();
        auto* tabs = form->findChild<QTabWidget*>("logTabWidget");
        QStringList shown;
        for (int index = 0; index < tabs->count(); ++index)
            for (const QString& text :
                 Unstamped(qobject_cast<QTextBrowser*>(tabs->widget(index))->toPlainText()))
                shown << tabs->tabText(index) + ": " + text;
        return shown;
    }

    QStringList TrackedRows() const
    {
        QStringList rows;
        for (auto* row :
             form->findChild<QTreeWidget*>("trackedUsersTree")->findItems("*", Qt::MatchWildcard))
            rows << row->text(0) + "/" + row->text(1);
        return rows;
    }

    void NewForm()
    {
        form = std::make_unique<DiagnosticsForm>();
        form->Init();
        form->RegisterLoggableItemType(ServerTypes::user);
    }

public:
    LogTest() { qputenv("HOME", home.path().toLocal8Bit()); }

private slots:
    void initTestCase() { ServerTestSetup::DeclareTypes(server); }

    void init()
    {
        d.RemoveAllItems();
        LogFolder().removeRecursively();
        startSecond = QDateTime::currentSecsSinceEpoch();
        Settings::Set(LogSettings::showDiagnostics, "yes");
        Settings::Set(LogSettings::userLevelLogging, "no");
        NewForm();
    }

    void cleanup() { form.reset(); }

    void showsLinesOnlyWhileDiagnosticsAreShown()
    {
        Settings::Set(LogSettings::userLevelLogging, "yes");
        for (const char* hidden : {"no", ""})
        {
            Settings::Set(LogSettings::showDiagnostics, hidden);
            Log("server", 1, "hidden", User("alice"));
            QVERIFY(!LogEnabled());
            QCOMPARE(Shown(), QStringList());
            QVERIFY(!LogFolder().exists());
        }
        Settings::Set(LogSettings::showDiagnostics, "yes");
        Log("Transfer Queue", 1, "first");
        Log("server", 2, "second");
        Log("Transfer Queue", 3, "<b>x</b> & <a href='y'>z</a>");
        Log(QString("server"), 0, QString("level zero"));
        QCOMPARE(Shown(), (QStringList{"Transfer Queue: first",
                                       "Transfer Queue:       <b>x</b> & <a href='y'>z</a>",
                                       "server:    second", "server: level zero"}));
        for (int index = 0; index < 12000; ++index) // shown a chunk at a time, but whole
            Log("Search", 1, QString::number(index));
        auto* search = form->findChild<QTabWidget*>("logTabWidget")->widget(2);
        QTRY_COMPARE(qobject_cast<QTextBrowser*>(search)->document()->blockCount(), 12000);
        QCOMPARE(Shown().value(12003), QString("Search: 11999"));

        // A new window starts with fresh tabs; once the last is gone, nothing reaches it.
        NewForm();
        Log("server", 1, "new");
        QCOMPARE(Shown(), QStringList{"server: new"});
        form.reset();
        Log("server", 1, "no window");
        QVERIFY(!LogEnabled());
    }

    void userLevelLoggingWritesFilesAndItemRecords()
    {
        Log("Search", 1, "before"); // the page exists before the file is wanted
        Settings::Set(LogSettings::userLevelLogging, "yes");
        RecordWatcher watcher;
        d.AddConnectionHandler(d.GetType(ServerTypes::user), d.GetType(itemLog), &watcher,
                               &RecordWatcher::OnAttached);
        Log("Transfer Queue", 1, "one", User("alice"));
        Log("Transfer Queue", 2, QString::fromUtf8("caf\xC3\xA9 \xE2\x98\x83"),
            d.GetType(ServerTypes::room)->GetItem("lobby")); // rooms keep no records
        Log("Search", 3, "after");
        Log("../../escape", 1, "kept in", User("alice"));

        QCOMPARE(FileLines("Transfer Queue"),
                 (QStringList{"started", "one", QString::fromUtf8("   caf\xC3\xA9 ?")}));
        QCOMPARE(FileLines("Search"), QStringList{"      after"});
        QCOMPARE(LogFolder().entryList(QDir::Files).size(), 3); // the escaping area's too

        QCOMPARE(d.GetType(itemLog)->ItemCount(), size_t(2));
        const QStringList seen = Unstamped(watcher.seen.join('\n'));
        const int first = seen.value(0).section(' ', 1, 1).toInt();
        QCOMPARE(seen, (QStringList{QString("alice %1 Transfer Queue 1 one").arg(first),
                                    QString("alice %1 ../../escape 1 kept in").arg(first + 1)}));
    }

    void trackedUsersFollowTrackingAndOnlineState()
    {
        const ItemPtr online = d.GetType(ServerTypes::isOnline)->GetGlobalNullItem();
        const ItemPtr tracked = d.GetType(ServerTypes::isTracked)->GetGlobalNullItem();
        const ItemPtr alice = User("alice"), bob = User("bob <i>");
        alice.Connect(online);
        alice.Connect(tracked);
        bob.Connect(tracked);
        QCOMPARE(TrackedRows(), (QStringList{"alice/Online", "bob <i>/Offline"}));

        alice.Disconnect(ServerTypes::isOnline);
        bob.Connect(online);
        QCOMPARE(TrackedRows(), (QStringList{"alice/Offline", "bob <i>/Online"}));

        alice.Disconnect(ServerTypes::isTracked);
        alice.Connect(online);
        User("carol").Connect(online);
        QCOMPARE(TrackedRows(), QStringList{"bob <i>/Online"});

        form.reset();
        bob.Disconnect(ServerTypes::isOnline); // the old window's handlers are gone
    }
};

QTEST_MAIN(LogTest)
#include "tst_log.moc"
