#include "MainWindow.h"

#include <QApplication>
#include <QMessageBox>

#include "ActionSetToolBar.h"
#include "AdminMessageDialog.h"
#include "Data.h"
#include "PathNode.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "ui_mainwindow.h"

namespace {
const char* const offlineIcon = ":/icons/offline_icon";
const char* const onlineIcon = ":/icons/online_icon";
const char* const awayIcon = ":/icons/away_icon";
const char* const connectDisconnect = "connect_disconnect";
// Chosen in the port dialog; the peer side listens on it from the next start.
const char* const newListeningPort = "new_listening_port";
const char* const showAwayStatus = "show_away_status_in_application_icon";

QString BuildText()
{
    return QString("VandrellQt build %3.%1.%2")
        .arg((g_currentVersion % 10000) / 100)
        .arg(g_currentVersion % 100)
        .arg(g_currentVersion / 10000);
}

QString ObfuscatedPortText(qint64 port)
{
    return QObject::tr("Obfuscated port is %1, if you're manually forwarding\n"
                       "your ports be sure to open it as well.")
        .arg(port);
}

// The path from the setting's key to its value: fires each time the key is given a value.
PathNode* SettingPath(const char* key, PathNodeRelation relation)
{
    auto* root = new PathNode(ItemPtr(d.GetType(Settings::global)->GetItem(key)));
    new PathNode(root, Settings::value, relation);
    return root;
}
} // namespace

void MainWindow::SetApplicationIcon(QString i_path)
{
    const QIcon icon(i_path);
    QApplication::setWindowIcon(icon);
    setWindowIcon(icon);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        trayIcon.setIcon(icon);
}

void MainWindow::ResetApplicationIcon()
{
    if (!gp_server || !gp_server->IsConnected())
        SetApplicationIcon(offlineIcon);
    else if (Settings::GetText(ServerSettings::availabilityStatus) == "available")
        SetApplicationIcon(onlineIcon);
    else
        SetApplicationIcon(Settings::IsYes(showAwayStatus) ? awayIcon : onlineIcon);
}

void MainWindow::PopupAlert(QString i_text)
{
    // Without a tray there is nowhere to show a balloon.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        trayIcon.showMessage(QString(), i_text, QSystemTrayIcon::Information, 10000);
}

void MainWindow::ConnectConnectionState()
{
    connect(server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(server, &Server::Disconnected, this, &MainWindow::OnDisconnected);
}

void MainWindow::InitTrayIcon()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        trayIcon.setIcon(QIcon(offlineIcon));
}

void MainWindow::WatchUsername()
{
    d.AddPathHandler(SettingPath(ServerSettings::username, PathRequired), this,
                     &MainWindow::OnUsernameChanged);
}

void MainWindow::WatchObfuscatedPort()
{
    d.AddPathHandler(SettingPath(ServerSettings::obfuscatedListeningPort, PathOnConnect), this,
                     &MainWindow::OnObfuscatedPortSet);
}

void MainWindow::WatchNewListeningPort()
{
    d.AddPathHandler(SettingPath(newListeningPort, PathRequired), this,
                     &MainWindow::OnNewListeningPortChanged);
}

void MainWindow::ShowListeningPort()
{
    ui->listeningPortEdit->setText(Settings::GetText(ServerSettings::listeningPort));
}

void MainWindow::ShowFutureSharingHint()
{
    QMessageBox::information(nullptr, tr("In the future"),
                             tr("You can always share additional folders by clicking the Share "
                                "Folder button when viewing the Options->File Sharing tab."));
}

void MainWindow::OnConnecting()
{
    actionBar->SetWidgetActionText(ui->loginOptionsTab, connectDisconnect, tr("Connecting..."));
}

void MainWindow::OnConnected()
{
    actionBar->SetWidgetActionText(ui->loginOptionsTab, connectDisconnect, tr("Disconnect"));
    ResetApplicationIcon();
    gp_server->GetOwnPrivilegesStatus();
}

void MainWindow::OnDisconnected()
{
    actionBar->SetWidgetActionText(ui->loginOptionsTab, connectDisconnect, tr("Connect"));
    SetApplicationIcon(offlineIcon);
}

void MainWindow::OnConnectionFailed(QString i_reason)
{
    if (i_reason == "INVALIDPASS")
        QMessageBox::information(this, tr("Login Failure: Wrong Password"),
                                 tr("Login failed. The password you supplied does not match your "
                                    "username. Please change your login settings in the Options "
                                    "tab and try reconnecting."));
    else if (i_reason == "INVALIDUSERNAME")
        QMessageBox::information(this, tr("Login Failure: Username is Invalid"),
                                 tr("Login failed. The username you supplied is invalid. Please "
                                    "change your login settings in the Options tab and try "
                                    "reconnecting."));
    // A retry of a dropped link fails quietly: the server connection keeps retrying.
    else if (!gp_server->IsAbruptlyDisconnected())
        QMessageBox::information(this, tr("Login Failure"),
                                 tr("Login failed. Reported failure reason: %1. Please change "
                                    "your login settings in the Options tab and try "
                                    "reconnecting.")
                                     .arg(i_reason));
    actionBar->SetWidgetActionText(ui->loginOptionsTab, connectDisconnect, tr("Connect"));
}

void MainWindow::OnAdminMessage(QString i_message)
{
    auto* dialog = new AdminMessageDialog(i_message, this);
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowStaysOnTopHint);
    dialog->show();
}

void MainWindow::OnTrayIconActivated(QSystemTrayIcon::ActivationReason i_reason)
{
    if (i_reason != QSystemTrayIcon::Trigger)
        return;
    showNormal();
    activateWindow();
}

void MainWindow::OnUsernameChanged(ItemPtr i_item)
{
    const QString username = i_item[Settings::value].AsString();
    ui->usernameEdit->setText(username);
    setWindowTitle(BuildText() + QString(" [%1]").arg(username));
}

void MainWindow::OnNewListeningPortChanged(ItemPtr i_item)
{
    const QString port = i_item[Settings::value].AsString();
    ui->listeningPortEdit->setText(port);
    ui->obfuscatedPortLabel->setText(ObfuscatedPortText(port.toLongLong() + 1));
}

void MainWindow::OnObfuscatedPortSet(ItemPtr)
{
    ui->obfuscatedPortLabel->setText(ObfuscatedPortText(
        Settings::GetText(ServerSettings::obfuscatedListeningPort).toLongLong()));
}
