#include "UserGroupsDialog.h"

#include <QSignalBlocker>

#include "Data.h"
#include "ServerTypes.h"
#include "ui_UserGroupsDialog.h"

using namespace ServerTypes;

namespace {
ItemPtr ListedItem(const QString& name)
{
    return ItemPtr(d.GetType(user)->GetItem(Value(name)))[inUserList];
}
} // namespace

UserGroupsDialog::UserGroupsDialog(QString i_userName, QWidget* parent)
    : QDialog(parent), userName(std::move(i_userName)), ui(new Ui_UserGroupsDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    Type* groups = d.GetType(userListGroup);
    Listen(groups->itemAdded, this, &UserGroupsDialog::OnUserGroupAdded);
    setWindowTitle(tr("User Groups for [%1]").arg(userName));
    ItemPtr listed = ListedItem(userName);
    for (ItemPtr group : groups->GetItems())
        AddRow(group.AsString(), !listed.IsNull() && listed.IsConnected(group));
    connect(ui->newGroupButton, &QPushButton::clicked, this,
            &UserGroupsDialog::OnNewGroupButtonClicked);
    connect(ui->groupListWidget, &QListWidget::itemChanged, this,
            &UserGroupsDialog::OnGroupItemChanged);
}

UserGroupsDialog::~UserGroupsDialog()
{
    delete ui;
}

void UserGroupsDialog::AddRow(const QString& name, bool checked)
{
    const QSignalBlocker blocker(ui->groupListWidget);
    auto* row = new QListWidgetItem(ui->groupListWidget);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setText(name);
    row->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void UserGroupsDialog::OnUserGroupAdded(ItemPtr i_group)
{
    AddRow(i_group.AsString(), false);
}

void UserGroupsDialog::OnGroupItemChanged(QListWidgetItem* ip_item)
{
    if (!ip_item || ip_item->checkState() == Qt::PartiallyChecked || ip_item->text().isEmpty())
        return;
    const bool checked = ip_item->checkState() == Qt::Checked;
    ItemPtr listed = ListedItem(userName);
    // The user left the list while the window was open: there is no membership to change.
    if (listed.IsNull())
    {
        const QSignalBlocker blocker(ui->groupListWidget);
        ip_item->setCheckState(checked ? Qt::Unchecked : Qt::Checked);
        return;
    }
    ItemPtr group = d.GetType(userListGroup)->GetItem(Value(ip_item->text()));
    if (checked && !listed.IsConnected(group))
        listed.Connect(group);
    else if (!checked && listed.IsConnected(group))
        listed.Disconnect(group);
}

void UserGroupsDialog::OnNewGroupButtonClicked()
{
    const QString name = ui->newGroupEdit->text().trimmed();
    ui->newGroupEdit->clear();
    if (!name.isEmpty())
        d.GetType(userListGroup)->GetItem(Value(name));
}
