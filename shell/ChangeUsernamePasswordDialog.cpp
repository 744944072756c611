#include "ChangeUsernamePasswordDialog.h"

#include "ui_ChangeUsernamePasswordDialog.h"

#include "ServerTypes.h"
#include "Settings.h"

ChangeUsernamePasswordDialog::ChangeUsernamePasswordDialog(bool firstRun, QWidget* parent)
    : QDialog(parent), ui(new Ui::ChangeUsernamePasswordDialog), firstRun(firstRun)
{
    ui->setupUi(this);
    ui->usernameEdit->setText(Settings::GetText(ServerSettings::username));
    ui->passwordEdit->setText(Settings::GetText(ServerSettings::password));
    if (firstRun)
        setWindowTitle(tr("Set Username/Password"));
    raise();
    activateWindow();
}

ChangeUsernamePasswordDialog::~ChangeUsernamePasswordDialog() = default;

void ChangeUsernamePasswordDialog::accept()
{
    const QString username = ui->usernameEdit->text().trimmed();
    const QString password = ui->passwordEdit->text().trimmed();
    if (username.isEmpty() || password.isEmpty())
        return;
    QDialog::accept();
    Settings::Set(ServerSettings::username, username);
    Settings::Set(ServerSettings::password, password);
    FreeUnlessCallerOwns();
}

void ChangeUsernamePasswordDialog::reject()
{
    QDialog::reject();
    FreeUnlessCallerOwns();
}

void ChangeUsernamePasswordDialog::FreeUnlessCallerOwns()
{
    // While exec() runs the dialog is modal, and it may live on the caller's stack.
    if (!isModal())
        deleteLater();
}
