#include "GiftPrivilegesDialog.h"

#include "ui_GiftPrivilegesDialog.h"

#include "Server.h"

GiftPrivilegesDialog::GiftPrivilegesDialog(QString i_user, QWidget* parent)
    : QDialog(parent), ui(new Ui::GiftPrivilegesDialog), user(i_user)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Gift Privileges to ") + user);
    // Up to four digits, none required: 9999 days at most.
    ui->daysEdit->setInputMask("0000");
    connect(ui->giftButton, &QPushButton::clicked, this, &GiftPrivilegesDialog::OnGiftClicked);
}

GiftPrivilegesDialog::~GiftPrivilegesDialog() = default;

void GiftPrivilegesDialog::OnGiftClicked()
{
    const int days = ui->daysEdit->text().toInt();
    if (days == 0)
        return;
    if (gp_server)
        gp_server->GiftPrivileges(user, days);
    deleteLater();
}
