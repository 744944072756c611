#include "AddUserDialog.h"

#include "Data.h"
#include "Server.h"
#include "ServerTypes.h"
#include "ui_AddUserDialog.h"

using namespace ServerTypes;

AddUserDialog::AddUserDialog(QWidget* parent) : QDialog(parent), ui(new Ui_AddUserDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->addFriendButton, &QPushButton::clicked, this, &AddUserDialog::OnAddUserClicked);
    if (gp_server)
        connect(gp_server, &Server::AddUserResponse, this, &AddUserDialog::OnAddUserResponse);
}

AddUserDialog::~AddUserDialog()
{
    delete ui;
}

void AddUserDialog::OnAddUserClicked()
{
    const QString name = ui->userNameEdit->text().trimmed();
    if (name.isEmpty())
    {
        ui->statusEdit->setText(tr("User name must not be empty."));
        return;
    }
    if (!gp_server || !gp_server->IsConnected())
    {
        ui->statusEdit->setText(tr("Must be online to add a user to your list."));
        return;
    }
    ItemPtr existing = d.GetType(user)->HasItem(Value(name));
    if (!existing.IsNull() && existing.IsConnected(inUserList))
    {
        ui->statusEdit->setText(tr("User already in list."));
        return;
    }
    ui->statusEdit->setText(tr("Adding user..."));
    ui->userNameEdit->setReadOnly(true);
    ui->addFriendButton->setEnabled(false);
    pendingAddUser = name;
    gp_server->AddUser(name);
}

void AddUserDialog::OnAddUserResponse(QString i_user, bool i_exists)
{
    if (pendingAddUser.isEmpty() || i_user != pendingAddUser)
        return;
    ui->userNameEdit->setReadOnly(false);
    ui->addFriendButton->setEnabled(true);
    pendingAddUser.clear();
    if (!i_exists)
    {
        ui->statusEdit->setText(tr("User name does not exist."));
        return;
    }
    ItemPtr userItem = d.GetType(user)->GetItem(Value(i_user));
    if (!userItem.IsConnected(inUserList))
        userItem.NewItem(inUserList);
    ui->statusEdit->setText(tr("User added to list."));
}
