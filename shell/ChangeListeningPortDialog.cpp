#include "ChangeListeningPortDialog.h"

#include <QMessageBox>

#include "ui_ChangeListeningPortDialog.h"

#include "ServerTypes.h"
#include "Settings.h"

namespace {
// Read by peer messaging when the store is loaded at the next start.
const char* const newListeningPort = "new_listening_port";
// A first digit of 1 to 9 keeps leading zeros out of the stored text.
const char* const portMask = "D9999";
} // namespace

ChangeListeningPortDialog::ChangeListeningPortDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui::ChangeListeningPortDialog)
{
    ui->setupUi(this);
    ui->portEdit->setInputMask(portMask);
    ui->portEdit->setText(Settings::GetText(ServerSettings::listeningPort));
}

ChangeListeningPortDialog::~ChangeListeningPortDialog() = default;

void ChangeListeningPortDialog::accept()
{
    const int port = ui->portEdit->text().toInt(nullptr, 10);
    if (port < 1 || port > 65535)
    {
        QMessageBox::information(this, tr("Invalid Port Number"),
                                 tr("Port number must be in the range of 1 to 65535."));
        return;
    }
    if (port == Settings::GetText(ServerSettings::listeningPort).toInt())
    {
        QMessageBox::information(this, tr("Port Number Not Changed"),
                                 tr("Port number has not been changed."));
        return;
    }
    QDialog::accept();
    Settings::Set(newListeningPort, QString::number(port));
    QMessageBox::information(
        this, tr("Change to Listening Port Pending"),
        tr("Changes to the listening port will take effect after a client restart."));
    FreeUnlessCallerOwns();
}

void ChangeListeningPortDialog::reject()
{
    QDialog::reject();
    FreeUnlessCallerOwns();
}

void ChangeListeningPortDialog::FreeUnlessCallerOwns()
{
    // While exec() runs the dialog is modal, and it may live on the caller's stack.
    if (!isModal())
        deleteLater();
}
