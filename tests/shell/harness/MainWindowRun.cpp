#include "MainWindowRun.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTcpServer>
#include <QTest>

#include "ChangeUsernamePasswordDialog.h"
#include "MainWindow.h"
#include "MessengerTestSetup.h"
#include "Server.h"
#include "ui_mainwindow.h"

MainWindowRun::MainWindowRun(const QString& username, const QString& password)
    : username(username), password(password)
{
    qputenv("HOME", home.path().toLocal8Bit());
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString closedBase = QString("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    MainWindow::SetServerAddressForTesting("127.0.0.1", fake.Port());
    MainWindow::SetVersionFileUrlForTesting(QUrl(closedBase + "/qtversion.txt"));
    MainWindow::SetGatewayDescriptionForTesting(closedBase + "/rootDesc.xml");
    MessengerTestSetup::UseFreeListeningPorts();
    QObject::connect(&answering, &QTimer::timeout, [this] { AnswerModalBoxes(); });
    answering.start(20);
}

MainWindowRun::~MainWindowRun()
{
    delete window;
}

void MainWindowRun::Start()
{
    window = new MainWindow;
    window->show();
    window->Init();
}

bool MainWindowRun::WaitLoggedIn(int timeoutMs)
{
    return QTest::qWaitFor([] { return gp_server && gp_server->IsConnected(); }, timeoutMs);
}

Ui_MainWindow* MainWindowRun::Form() const
{
    return window ? window->Form() : nullptr;
}

void MainWindowRun::AnswerModalBoxes()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* account = qobject_cast<ChangeUsernamePasswordDialog*>(modal))
    {
        account->findChild<QLineEdit*>("usernameEdit")->setText(username);
        account->findChild<QLineEdit*>("passwordEdit")->setText(password);
        account->accept();
    }
    else if (auto* box = qobject_cast<QMessageBox*>(modal))
    {
        boxes << box->windowTitle() + ": " + box->text();
        if (QAbstractButton* answer = box->button(QMessageBox::StandardButton(boxAnswer)))
            answer->click();
        else
            box->accept();
    }
}
