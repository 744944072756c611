#include "AddSharedFolderDialog.h"

#include <QDir>

#include "Data.h"
#include "FileChooser.h"
#include "ServerTypes.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "ui_AddSharedFolderDialog.h"

using namespace SharesTypes;

namespace {
void SetMark(ItemPtr folder, const char* mark, bool on)
{
    if (on)
        folder.Connect(d.GetType(mark)->GetGlobalNullItem());
    else
        folder.Disconnect(mark);
}
} // namespace

AddSharedFolderDialog::AddSharedFolderDialog(ItemPtr folder, QWidget* parent)
    : QDialog(parent), ui(new Ui_AddSharedFolderDialog), folderItem(folder)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->selectFolderButton, &QPushButton::clicked, this,
            &AddSharedFolderDialog::OnSelectFolderClicked);
    connect(ui->everyoneCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged);
    connect(ui->userListCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &AddSharedFolderDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &AddSharedFolderDialog::reject);
    if (!folderItem.IsNull())
        Listen(d.GetType(sharedFolder)->itemRemoved, this,
               &AddSharedFolderDialog::OnSharedFolderRemoved);
    ShowAudience();
}

AddSharedFolderDialog::~AddSharedFolderDialog()
{
    delete ui;
}

void AddSharedFolderDialog::ShowAudience()
{
    const bool editing = !folderItem.IsNull();
    if (editing)
    {
        ui->selectFolderButton->setEnabled(false);
        ui->selectedFolderEdit->setEnabled(false);
        ui->selectedFolderEdit->setText(folderItem.AsString());
        const bool everyone = folderItem.IsConnected(sharedPublic);
        ui->everyoneCheckBox->setChecked(everyone);
        if (!everyone)
            ui->userListCheckBox->setChecked(folderItem.IsConnected(sharedUserlist));
    }
    for (ItemPtr group : d.GetType(ServerTypes::userListGroup)->GetItems())
    {
        auto* row = new QListWidgetItem(group.AsString(), ui->groupsListWidget);
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(editing && folderItem.IsConnected(group) ? Qt::Checked : Qt::Unchecked);
    }
}

void AddSharedFolderDialog::OnSelectFolderClicked()
{
    const QString chosen = QDir::fromNativeSeparators(
        FileChooser::Choose(FileChooser::Kind::Folder, this, tr("Select Folder to Share")));
    if (!chosen.isEmpty())
        ui->selectedFolderEdit->setText(chosen);
}

void AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged(int i_state)
{
    if (i_state == Qt::Checked)
    {
        ui->userListCheckBox->setEnabled(false);
        ui->userListCheckBox->setChecked(true);
        ui->groupsListWidget->setEnabled(false);
    }
    else if (i_state == Qt::Unchecked)
    {
        ui->userListCheckBox->setEnabled(true);
        ui->groupsListWidget->setEnabled(ui->userListCheckBox->checkState() != Qt::Checked);
    }
}

void AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged(int i_state)
{
    if (i_state == Qt::Checked)
        ui->groupsListWidget->setEnabled(false);
    else if (i_state == Qt::Unchecked)
        ui->groupsListWidget->setEnabled(true);
}

void AddSharedFolderDialog::accept()
{
    const QString path = ui->selectedFolderEdit->text();
    if (path.isEmpty())
        return;
    if (folderGone)
    {
        QDialog::accept();
        return;
    }
    ItemPtr folder = folderItem.IsNull() ? sharedFoldersManager->AddSharedFolder(path) : folderItem;
    if (ui->everyoneCheckBox->isChecked())
    {
        SetMark(folder, sharedPublic, true);
    }
    else
    {
        SetMark(folder, sharedPublic, false);
        if (ui->userListCheckBox->isChecked())
        {
            SetMark(folder, sharedUserlist, true);
        }
        else
        {
            SetMark(folder, sharedUserlist, false);
            WriteGroups(folder);
        }
    }
    QDialog::accept();
}

void AddSharedFolderDialog::WriteGroups(ItemPtr folder)
{
    Type* groups = d.GetType(ServerTypes::userListGroup);
    for (int index = 0; index < ui->groupsListWidget->count(); ++index)
    {
        QListWidgetItem* row = ui->groupsListWidget->item(index);
        const Value name(row->text());
        if (row->checkState() == Qt::Checked)
        {
            folder.Connect(groups->GetItem(name));
            continue;
        }
        // An unticked row whose group is gone has nothing to undo; looking it up must not
        // bring the deleted group back.
        ItemPtr group = groups->HasItem(name);
        if (folder.IsConnected(group))
            folder.Disconnect(group);
    }
}

void AddSharedFolderDialog::OnSharedFolderRemoved(ItemPtr i_folder)
{
    if (i_folder != folderItem)
        return;
    folderGone = true;
    folderItem = ItemPtr();
}
