#include "UserGroupConfigDialog.h"

#include <QMessageBox>

#include "Data.h"
#include "ServerTypes.h"
#include "ui_UserGroupConfigDialog.h"

using namespace ServerTypes;

UserGroupConfigDialog* userGroupConfigDialog = nullptr;

UserGroupConfigDialog::UserGroupConfigDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui_UserGroupConfigDialog)
{
    ui->setupUi(this);
    userGroupConfigDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
    // A window of its own, although the Users page owns it.
    setWindowFlags(windowFlags() | Qt::Window);
    Type* groups = d.GetType(userListGroup);
    Listen(groups->itemAdded, this, &UserGroupConfigDialog::OnUserGroupAdded);
    Listen(groups->itemRemoved, this, &UserGroupConfigDialog::OnUserGroupRemoved);
    for (ItemPtr group : groups->GetItems())
        OnUserGroupAdded(group);
    EnableEditors(false);
    connect(ui->groupList, &QListWidget::currentItemChanged, this,
            &UserGroupConfigDialog::OnCurrentGroupItemChanged);
    connect(ui->prioritySpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &UserGroupConfigDialog::OnPrioritySpinValueChanged);
    connect(ui->acceptUploadsCheckBox, &QCheckBox::toggled, this,
            &UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled);
    connect(ui->deleteButton, &QPushButton::clicked, this, &UserGroupConfigDialog::OnDeleteClicked);
}

UserGroupConfigDialog::~UserGroupConfigDialog()
{
    if (userGroupConfigDialog == this)
        userGroupConfigDialog = nullptr;
    delete ui;
}

void UserGroupConfigDialog::EnableEditors(bool enabled)
{
    ui->prioritySpinBox->setEnabled(enabled);
    ui->acceptUploadsCheckBox->setEnabled(enabled);
    ui->deleteButton->setEnabled(enabled);
}

ItemPtr UserGroupConfigDialog::CurrentGroup() const
{
    QListWidgetItem* row = ui->groupList->currentItem();
    if (!row)
        return ItemPtr();
    return d.GetType(userListGroup)->GetItem(Value(row->text()));
}

void UserGroupConfigDialog::OnUserGroupAdded(ItemPtr i_group)
{
    ui->groupList->addItem(i_group.AsString());
}

void UserGroupConfigDialog::OnUserGroupRemoved(ItemPtr i_group)
{
    const QList<QListWidgetItem*> rows =
        ui->groupList->findItems(i_group.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!rows.isEmpty())
        delete rows.first();
}

void UserGroupConfigDialog::OnCurrentGroupItemChanged(QListWidgetItem* ip_current, QListWidgetItem*)
{
    if (!ip_current)
    {
        EnableEditors(false);
        ui->groupBox->setTitle(QString());
        return;
    }
    EnableEditors(true);
    ui->groupBox->setTitle(ip_current->text());
    ItemPtr group = CurrentGroup();
    ui->prioritySpinBox->setValue(group[groupDownloadPriority].AsInt());
    ui->acceptUploadsCheckBox->setChecked(group.IsConnected(acceptUploads));
}

void UserGroupConfigDialog::OnPrioritySpinValueChanged(int i_value)
{
    ItemPtr group = CurrentGroup();
    if (group.IsNull())
        return;
    if (i_value <= 0)
        group.Disconnect(groupDownloadPriority);
    else
        group.Connect(d.GetType(groupDownloadPriority)->GetItem(Value(i_value)));
}

void UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled(bool i_checked)
{
    ItemPtr group = CurrentGroup();
    if (group.IsNull())
        return;
    if (i_checked)
        group.Connect(d.GetType(acceptUploads)->GetGlobalNullItem());
    else
        group.Disconnect(acceptUploads);
}

void UserGroupConfigDialog::OnDeleteClicked()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        nullptr, tr("Delete group?"), tr("Are you sure you want to delete this user group?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    ItemPtr group = CurrentGroup();
    if (!group.IsNull())
        group.Remove();
}
