// Runs the client's start-up as the program does, against a loopback server, answers the
// first-run and error boxes as a user would, and reports what it saw as "key=value" lines.
// Arguments: the loopback server's port, what to do before closing the window, the version
// file's URL and the gateway description's URL. What to do:
//   login       wait until logged in, then for the new-version dialog
//   resize      move and resize the window
//   diagnostics tick the option that shows the diagnostics tab
//   upnp-off    clear the option that maps ports through UPnP
//   late-save   end the run, then ask for an hourly save
//   options     change every option control as a user would
// The window is then closed and the run ends as the program's does.

#include <cstdio>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "ChangeUsernamePasswordDialog.h"
#include "MainWindow.h"
#include "MessengerTestSetup.h"
#include "NewVersionDialog.h"
#include "RoomViews.h"
#include "SearchViews.h"
#include "Server.h"
#include "Settings.h"
#include "TransfersViews.h"
#include "UserViews.h"
#include "ui_mainwindow.h"

namespace {
void Report(const QString& key, const QString& value)
{
    std::printf("%s=%s\n", qPrintable(key), qPrintable(value));
    std::fflush(stdout);
}

int SavedFileCount()
{
    return QDir::home().entryList({".Vandrell.*"}, QDir::Files | QDir::Hidden).size();
}

const char* const optionCheckBoxes[] = {"uPnPCheckBox",
                                        "autoExpandSharesCheckBox",
                                        "useOldStyleSearchResultsCheckBox",
                                        "showDiagnosticsCheckBox",
                                        "dontDownloadSingleFilesIntoSubfolders",
                                        "dontSplitDownloadsCheckBox",
                                        "minimizeToTrayCheckBox",
                                        "logRoomChatCheckBox",
                                        "logPrivateChatCheckBox",
                                        "emptyShareWarningCheckBox",
                                        "acceptUserListUploadsCheckBox",
                                        "showAwayStatusCheckBox",
                                        "userLevelLoggingCheckBox",
                                        "openGroupsOnUserAddCheckBox",
                                        "showEventButtonsCheckBox"};

// What every option control shows, one "option.<control>" line each.
void ReportOptions(Ui_MainWindow* form)
{
    for (const char* name : optionCheckBoxes)
        Report(QString("option.") + name,
               form->centralWidget->findChild<QCheckBox*>(name)->isChecked() ? "ticked" : "clear");
    Report("option.downloadFolderEdit", form->downloadFolderEdit->text());
    Report("option.chatTimestampsBox", QString::number(form->chatTimestampsBox->currentIndex()));
    Report("option.firstOpenTabBox", QString::number(form->firstOpenTabBox->currentIndex()));
    Report("option.emptyShareWarningEdit", form->emptyShareWarningEdit->text());
    Report("option.maxUploadsPerUserSpinBox",
           QString::number(form->maxUploadsPerUserSpinBox->value()));
    Report("option.userPictureFilenameEdit", form->userPictureFilenameEdit->text());
    Report("option.userDescriptionEdit", form->userDescriptionEdit->toPlainText());
}

// Changes every option control as a user would; the two file fields are set by commands.
void ChangeOptions(Ui_MainWindow* form)
{
    for (const char* name : optionCheckBoxes)
        form->centralWidget->findChild<QCheckBox*>(name)->click();
    Settings::Set("download_folder", "/data/in");
    Settings::Set("user_picture_file", "/data/me.png");
    form->chatTimestampsBox->setCurrentIndex(2);
    form->firstOpenTabBox->setCurrentIndex(3);
    form->emptyShareWarningEdit->clear();
    QTest::keyClicks(form->emptyShareWarningEdit, "Share something");
    form->saveEmptyShareWarningMessageButton->click();
    form->maxUploadsPerUserSpinBox->selectAll();
    QTest::keyClicks(form->maxUploadsPerUserSpinBox, "25");
    QTest::keyClick(form->maxUploadsPerUserSpinBox, Qt::Key_Enter);
    form->userDescriptionEdit->setPlainText("About me");
}

// Answers whatever modal box is open: the account dialog gets a name and password with
// blanks around them, message boxes are acknowledged.
void AnswerModalBoxes()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* account = qobject_cast<ChangeUsernamePasswordDialog*>(modal))
    {
        Report("asked_account", "yes");
        account->findChild<QLineEdit*>("usernameEdit")->setText("  probe user ");
        account->findChild<QLineEdit*>("passwordEdit")->setText(" secret ");
        account->accept();
    }
    else if (auto* box = qobject_cast<QMessageBox*>(modal))
    {
        Report("box", box->windowTitle());
        box->accept();
    }
}
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 5)
        return 2;
    QTimer answering;
    QObject::connect(&answering, &QTimer::timeout, &AnswerModalBoxes);
    answering.start(20);

    RoomViews::Install();
    UserViews::Install();
    SearchViews::Install();
    TransfersViews::Install();
    auto* window = new MainWindow;
    MainWindow::SetServerAddressForTesting("127.0.0.1", arguments[1].toUShort());
    MainWindow::SetVersionFileUrlForTesting(QUrl(arguments[3]));
    MainWindow::SetGatewayDescriptionForTesting(arguments[4]);
    MessengerTestSetup::UseFreeListeningPorts();
    window->show();
    window->Init();

    Report("title", window->windowTitle());
    const auto reportTabs = [window] {
        QStringList tabs;
        for (int index = 0; index < window->Form()->tabControl->count(); ++index)
            tabs << window->Form()->tabControl->widget(index)->objectName() + ":" +
                        window->Form()->tabControl->tabText(index);
        Report("tabs", tabs.join(","));
    };
    reportTabs();
    Report("current_tab", QString::number(window->Form()->tabControl->currentIndex()));
    for (const char* key : {"username", "password", "minimize_to_tray", "first_open_tab",
                            "color_transfer_failed", "log_room_chat", "data_version"})
        Report(key, Settings::GetText(key));
    const auto reportGeometry = [window] {
        const QRect geometry = window->geometry();
        Report("geometry", QString("%1,%2,%3,%4")
                               .arg(geometry.x())
                               .arg(geometry.y())
                               .arg(geometry.width())
                               .arg(geometry.height()));
    };
    reportGeometry();
    ReportOptions(window->Form());

    const QString action = arguments[2];
    if (action == "login")
    {
        Report("logged_in",
               QTest::qWaitFor([] { return gp_server->IsConnected(); }, 10000) ? "yes" : "no");
        const bool announced = QTest::qWaitFor(
            [window] { return window->findChild<NewVersionDialog*>() != nullptr; }, 10000);
        Report("new_version_dialog", announced ? "yes" : "no");
    }
    else if (action == "diagnostics")
    {
        window->Form()->showDiagnosticsCheckBox->click();
        reportTabs();
    }
    else if (action == "upnp-off")
    {
        Report("upnp_box", window->Form()->uPnPCheckBox->isChecked() ? "ticked" : "clear");
        window->Form()->uPnPCheckBox->click();
        Report("use_upnp", Settings::GetText("use_upnp"));
    }
    else if (action == "resize")
    {
        window->setGeometry(40, 50, 900, 650);
        if (!QTest::qWaitFor([window] { return window->geometry() == QRect(40, 50, 900, 650); },
                             5000))
            Report("resize", "timed out");
        QCoreApplication::processEvents();
        reportGeometry();
    }
    else if (action == "options")
    {
        ChangeOptions(window->Form());
    }
    else if (action == "late-save")
    {
        g_showIsOver = true;
        window->EveryHour();
        Report("files_after_late_save", QString::number(SavedFileCount()));
    }

    if (action == "options")
        ReportOptions(window->Form());
    delete window;
    Report("files_at_exit", QString::number(SavedFileCount()));
    return 0;
}
