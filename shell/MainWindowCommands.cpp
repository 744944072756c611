#include "MainWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QTreeWidget>
#include <QUrl>

#include "ColorSelectionDialog.h"
#include "FileChooser.h"
#include "PortTestPage.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "ui_mainwindow.h"

namespace {
const char* const downloadFolderKey = "download_folder";
} // namespace

void MainWindow::ToggleServerConnection()
{
    if (!gp_server)
        return;
    // Connect does nothing while an attempt runs, so a second click starts no second one.
    if (gp_server->IsConnected())
        gp_server->Disconnect();
    else
        gp_server->Connect();
}

void MainWindow::ChooseDownloadFolder()
{
    const QString chosen = QDir::fromNativeSeparators(
        FileChooser::Choose(FileChooser::Kind::Folder, this, tr("Set Download Folder")));
    if (chosen.isEmpty())
        return;
    Settings::Set(downloadFolderKey, chosen);
    ui->downloadFolderEdit->setText(chosen);
}

void MainWindow::OnCheckPortsClicked()
{
    // The plain port first, then the obfuscated one.
    QDesktopServices::openUrl(PortTestPage(Settings::GetText(ServerSettings::listeningPort)));
    QDesktopServices::openUrl(
        PortTestPage(Settings::GetText(ServerSettings::obfuscatedListeningPort)));
}

void MainWindow::OnSelectColors()
{
    (new ColorSelectionDialog(this))->show();
}

void MainWindow::OnOptionsTabSelectionChanged(int i_tabIndex)
{
    if (i_tabIndex < 0)
        return;
    // With the focus inside the page, the tool bar offers the page's commands.
    if (ui->optionsTabControl->widget(i_tabIndex) == ui->fileSharingOptionsTab)
        ui->sharedFoldersList->setFocus(Qt::OtherFocusReason);
}
