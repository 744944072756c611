#include "MainWindow.h"

#include <algorithm>

#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>

#include "Data.h"
#include "ServerTypes.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "ViewHooks.h"
#include "ui_mainwindow.h"

using namespace SharesTypes;

namespace {
// Who may see a shared folder, as its row on the File Sharing page says it.
QString AudienceText(ItemPtr folder)
{
    if (folder.IsConnected(sharedPublic))
        return QObject::tr("Everyone");
    if (folder.IsConnected(sharedUserlist))
        return QObject::tr("User List");
    QStringList groups;
    for (ItemPtr group : folder.GetItems(ServerTypes::userListGroup))
        groups << group.AsString();
    std::sort(groups.begin(), groups.end());
    return groups.join(", ");
}

// The shared folder of the selected row, never made anew from a row that outlived its folder.
ItemPtr SelectedFolder(QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return ItemPtr();
    return d.GetType(sharedFolder)->HasItem(Value(selected.first()->text(0)));
}
} // namespace

void MainWindow::WatchSharedFolders()
{
    Type* folders = d.GetType(sharedFolder);
    Listen(folders->itemAdded, this, &MainWindow::OnSharedFolderAdded);
    Listen(folders->itemRemoved, this, &MainWindow::OnSharedFolderRemoved);
    Listen(folders->connected, this, &MainWindow::OnSharedFolderChange);
    Listen(folders->disconnected, this, &MainWindow::OnSharedFolderChange);
}

void MainWindow::ConnectSharedFoldersPage()
{
    ui->sharedFoldersList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->sharedFoldersList, &QTreeWidget::customContextMenuRequested, this,
            &MainWindow::OnSharedFoldersListContextMenuRequested);
    connect(ui->editExcludedExtensionsButton, &QPushButton::clicked, this,
            &MainWindow::OnEditExcludedDownloadExtensionsClicked);
}

QTreeWidgetItem* MainWindow::SharedFolderRow(ItemPtr folder) const
{
    const QList<QTreeWidgetItem*> rows = ui->sharedFoldersList->findItems(
        folder.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive, 0);
    return rows.isEmpty() ? nullptr : rows.first();
}

void MainWindow::OnSharedFolderAdded(ItemPtr i_folder)
{
    auto* row = new QTreeWidgetItem(ui->sharedFoldersList);
    row->setText(0, i_folder.AsString());
    row->setText(1, AudienceText(i_folder));
}

void MainWindow::OnSharedFolderRemoved(ItemPtr i_folder)
{
    delete SharedFolderRow(i_folder);
}

void MainWindow::OnSharedFolderChange(ConnectionInfo i_info)
{
    const std::string& type = i_info.to.GetType()->name;
    if (type != sharedPublic && type != sharedUserlist && type != ServerTypes::userListGroup)
        return;
    if (QTreeWidgetItem* row = SharedFolderRow(i_info.from))
        row->setText(1, AudienceText(i_info.from));
}

void MainWindow::OnSharedFoldersListContextMenuRequested(QPoint i_point)
{
    if (!ui->sharedFoldersList->itemAt(i_point))
        return;
    QMenu menu;
    connect(menu.addAction(QIcon(":/icons/browse_icon"), tr("Set Folder Permissions")),
            &QAction::triggered, this, &MainWindow::OnSetFolderPermissions);
    connect(menu.addAction(QIcon(":/icons/browse_icon"), tr("Unshare Folder")), &QAction::triggered,
            this, &MainWindow::OnUnshareFolder);
    menu.exec(ui->sharedFoldersList->viewport()->mapToGlobal(i_point));
}

void MainWindow::OnSetFolderPermissions()
{
    ItemPtr folder = SelectedFolder(ui->sharedFoldersList);
    if (!folder.IsNull() && ViewHooks::shareFolder)
        ViewHooks::shareFolder(folder, this)->show();
}

void MainWindow::OnUnshareFolder()
{
    if (!sharedFoldersManager)
        return;
    // Paths first: each removal takes its row away, and the next folder is found anew.
    QStringList paths;
    for (QTreeWidgetItem* row : ui->sharedFoldersList->selectedItems())
        paths << row->text(0);
    for (const QString& path : paths)
    {
        ItemPtr folder = d.GetType(sharedFolder)->HasItem(Value(path));
        if (!folder.IsNull())
            sharedFoldersManager->RemoveSharedFolder(folder);
    }
}

void MainWindow::OnSharedFilesRescanned(int i_filesAdded, int i_filesRemoved)
{
    if (!ViewHooks::reportRescan)
        return;
    QDialog* report = ViewHooks::reportRescan(
        {tr("%1 files added.").arg(i_filesAdded), tr("%1 files removed.").arg(i_filesRemoved)},
        this);
    report->setWindowTitle(tr("Shared Files Rescanned"));
    report->show();
}

void MainWindow::OnEditExcludedDownloadExtensionsClicked()
{
    if (!ViewHooks::editExcludedExtensions)
        return;
    QDialog* editor = ViewHooks::editExcludedExtensions(this);
    editor->show();
    editor->raise();
    editor->activateWindow();
    editor->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ShowShareFolderDialog()
{
    if (ViewHooks::shareFolder)
        ViewHooks::shareFolder(ItemPtr(), this)->show();
}

void MainWindow::AskToShareFolder()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        nullptr, tr("Share a folder?"),
        tr("Many Vandrell users require that you share something before downloading from them. "
           "Would you like to share a folder now?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes || !ViewHooks::shareFolder)
        return;
    // The dialog frees itself when it closes.
    QPointer<QDialog> dialog = ViewHooks::shareFolder(ItemPtr(), this);
    dialog->exec();
}
