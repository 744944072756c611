#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include "ActionSetToolBar.h"
#include "AdminMessageDialog.h"
#include "MainWindow.h"
#include "MainWindowRun.h"
#include "Server.h"
#include "Settings.h"
#include "ui_mainwindow.h"

namespace {
using F = FakeCentralServer;

const QString retryText = "Please change your login settings in the Options tab and try "
                          "reconnecting.";

QImage IconImage(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage();
}

// A box's text is followed by the advice to retry; an empty box means none is shown.
void AddRow(const char* name, const char* event, const char* reason, const char* text,
            const QString& box)
{
    const QString icon =
        QString(":/icons/") + (event == QString("none") ? "online_icon" : "offline_icon");
    QTest::newRow(name) << QString(event) << QString(reason) << QString(text) << icon
                        << (box.isEmpty() ? QStringList() : QStringList{box + retryText});
}
} // namespace

// How the main window shows the link to the server, the user name and the ports, and what it
// opens for the server's notices.
class StatusTest : public QObject
{
    Q_OBJECT

    MainWindowRun run;
    MainWindow* window = nullptr;
    quint16 closedPort = 0;

    // The text of the connect command, as the tool bar offers it on the Login page.
    QString ConnectActionText() const
    {
        // A box that was open took the focus, and the bar shows the focused page's commands.
        QApplication::setActiveWindow(window);
        run.Form()->usernameEdit->setFocus();
        QCoreApplication::processEvents();
        for (QAction* action : actionBar->actions())
            if (action->isVisible() && !action->text().isEmpty())
                return action->text();
        return QString();
    }

    bool LogInAgain()
    {
        gp_server->SetServerAddressForTesting("127.0.0.1", run.Server().Port());
        run.Server().SetLoginReply(F::AcceptLogin);
        if (!gp_server->IsConnected())
            gp_server->Connect();
        return run.WaitLoggedIn();
    }

private slots:
    void initTestCase()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
        probe.close();
        run.Start();
        QVERIFY(run.WaitLoggedIn());
        window = run.Window();
        QApplication::setActiveWindow(window);
        run.Form()->tabControl->setCurrentWidget(run.Form()->optionsTab);
        run.Form()->optionsTabControl->setCurrentWidget(run.Form()->loginOptionsTab);
        run.Form()->usernameEdit->setFocus();
    }

    void cleanup() { run.boxes.clear(); }

    void titleAndUserFieldFollowUserName()
    {
        QCOMPARE(window->windowTitle(), QString("VandrellQt build 2013.2.12 [alice]"));
        QCOMPARE(run.Form()->usernameEdit->text(), QString("alice"));
        Settings::Set("username", "");
        QCOMPARE(window->windowTitle(), QString("VandrellQt build 2013.2.12 []"));
        Settings::Set("username", "alice");
    }

    void portFieldsFollowListeningPorts()
    {
        Settings::Set("new_listening_port", "2240");
        QCOMPARE(run.Form()->listeningPortEdit->text(), QString("2240"));
        QCOMPARE(run.Form()->obfuscatedPortLabel->text(),
                 QString("Obfuscated port is 2241, if you're manually forwarding\n"
                         "your ports be sure to open it as well."));
        // The messenger settles the ports at load: 2237 differs from what it stored.
        Settings::Set("obfuscated_listening_port", "2237");
        QVERIFY(run.Form()->obfuscatedPortLabel->text().startsWith("Obfuscated port is 2237,"));
        QCOMPARE(run.Form()->listeningPortEdit->text(), QString("2240"));
    }

    void connectionStateShowsTextIconAndBox_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("reason"); // of a refused login
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QStringList>("boxes");
        const QString failure = "Login Failure: Login failed. Reported failure reason: ";
        AddRow("logged in", "none", "", "Disconnect", "");
        AddRow("connecting", "connecting", "", "Connecting...", "");
        AddRow("wrong password", "refused", "INVALIDPASS", "Connect",
               "Login Failure: Wrong Password: Login failed. The password you supplied does not "
               "match your username. ");
        AddRow("lower-case word is another reason", "refused", "invalidpass", "Connect",
               failure + "invalidpass. ");
        AddRow("server unreachable", "unreachable", "", "Connect", failure + "socket error. ");
        AddRow("dropped", "dropped", "", "Connect", "");
        AddRow("retry after drop fails", "dropped-unreachable", "", "Connect", "");
    }

    void connectionStateShowsTextIconAndBox()
    {
        QFETCH(QString, event);
        QFETCH(QString, reason);
        QFETCH(QString, text);
        QFETCH(QString, icon);
        QFETCH(QStringList, boxes);
        QVERIFY(LogInAgain());
        QSignalSpy failed(gp_server, &Server::ConnectionFailed);
        QSignalSpy disconnected(gp_server, &Server::Disconnected);
        if (event.startsWith("dropped"))
        {
            run.Server().CloseClient();
            QVERIFY(disconnected.wait(5000));
        }
        else if (event != "none")
        {
            gp_server->Disconnect();
        }
        run.boxes.clear();

        if (event == "connecting" || event == "refused")
        {
            run.Server().SetLoginReply(reason.isEmpty() ? F::NoLoginReply : F::RefuseLogin, reason);
            gp_server->Connect();
        }
        else if (event.endsWith("unreachable"))
        {
            gp_server->SetServerAddressForTesting("127.0.0.1", closedPort);
            gp_server->AttemptReconnect();
            gp_server->Connect();
        }
        if (event == "connecting")
            QVERIFY(run.Server().WaitForCode(1));
        else if (event == "refused" || event.endsWith("unreachable"))
            QVERIFY(failed.wait(5000));

        QCOMPARE(ConnectActionText(), text);
        QCOMPARE(IconImage(window->windowIcon()), IconImage(QIcon(icon)));
        QCOMPARE(IconImage(QApplication::windowIcon()), IconImage(QIcon(icon)));
        QCOMPARE(run.boxes, boxes);
    }

    // The refusal box may stay open as long as the user likes; the server sees the link closed
    // meanwhile. The wait runs inside the box's event loop, so the box cannot close first.
    void refusedLoginClosesTheLinkWhileTheBoxIsOpen()
    {
        QVERIFY(LogInAgain());
        gp_server->Disconnect();
        QTRY_VERIFY(!run.Server().HasClient());
        bool boxSeen = false;
        bool closedWhileOpen = false;
        QTimer watch;
        // Answered here, not by the run's own answering, which could close it before it is seen.
        run.SetAnswering(false);
        const auto resume = qScopeGuard([this] { run.SetAnswering(true); });
        connect(&watch, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (boxSeen || !box)
                return;
            boxSeen = true;
            closedWhileOpen = QTest::qWaitFor([&] { return !run.Server().HasClient(); }, 5000);
            box->accept();
        });
        watch.start(1);
        run.Server().SetLoginReply(F::RefuseLogin, "INVALIDPASS");
        gp_server->Connect();
        QVERIFY(run.Server().WaitForClient());
        QTRY_VERIFY_WITH_TIMEOUT(boxSeen, 20000);
        QVERIFY(closedWhileOpen);
    }

    void onlySingleClickOnTrayRestoresWindow()
    {
        for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick})
        {
            window->showMinimized();
            window->OnTrayIconActivated(reason);
            QVERIFY(window->isMinimized());
        }
        window->OnTrayIconActivated(QSystemTrayIcon::Trigger);
        QVERIFY(!window->isMinimized());
    }

    void eachAdminMessageOpensItsOwnWindow()
    {
        QVERIFY(LogInAgain());
        const QString format = "MMM d h:mm:ss ap";
        const QString before = QDateTime::currentDateTime().toString(format);
        run.Server().Send(66, QString("Server <b>maintenance</b> at 5"));
        run.Server().Send(66, QString("Second\nline"));
        QTRY_COMPARE_WITH_TIMEOUT(window->findChildren<AdminMessageDialog*>().size(), 2, 5000);
        const QString after = QDateTime::currentDateTime().toString(format);
        QStringList shown;
        for (AdminMessageDialog* dialog : window->findChildren<AdminMessageDialog*>())
        {
            QVERIFY(dialog->isVisible());
            QVERIFY(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
            const QString time = dialog->findChild<QLineEdit*>("timeEdit")->text();
            QVERIFY2(time == before || time == after, qPrintable(time));
            shown << dialog->findChild<QTextEdit*>("textEdit")->toPlainText();
            dialog->close();
        }
        shown.sort();
        QCOMPARE(shown, (QStringList{"Second\nline", "Server maintenance at 5"}));
        QTRY_COMPARE(window->findChildren<AdminMessageDialog*>().size(), 0);
    }
};

QTEST_MAIN(StatusTest)
#include "tst_status.moc"
