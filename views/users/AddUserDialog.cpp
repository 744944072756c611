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

void AddUserDialog::ShowStatus(const QString& text)
{
    ui->statusEdit->setText(text);
    // A message wider than the line shows from its start.
    ui->statusEdit->setCursorPosition(0);
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
        ShowStatus(tr("User name must not be empty."));
        return;
    }
    if (!gp_server || !gp_server->IsConnected())
    {
        ShowStatus(tr("Must be online to add a user to your list."));
        return;
    }
    ItemPtr existing = d.GetType(user)->HasItem(Value(name));
    if (!existing.IsNull() && existing.IsConnected(inUserList))
    {
        ShowStatus(tr("User already in list."));
        return;
    }
    ShowStatus(tr("Adding user..."));
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
        ShowStatus(tr("User name does not exist."));
        return;
    }
    ItemPtr userItem = d.GetType(user)->GetItem(Value(i_user));
    if (!userItem.IsConnected(inUserList))
        userItem.NewItem(inUserList);
    ShowStatus(tr("User added to list."));
}
