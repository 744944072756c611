#include "GiftPrivilegesDialog.h"

#include "ui_GiftPrivilegesDialog.h"

#include "Server.h"

namespace {
// Room for a line edit's frame and margins around its text.
const int textPadding = 16;
} // namespace

GiftPrivilegesDialog::GiftPrivilegesDialog(QString i_user, QWidget* parent)
    : QDialog(parent), ui(new Ui::GiftPrivilegesDialog), user(i_user)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Gift Privileges to ") + user);
    // Up to four digits, none required: 9999 days at most.
    ui->daysEdit->setInputMask("0000");
    // The form's width suits small fonts; a larger one must not clip the fourth digit.
    const int needed = ui->daysEdit->fontMetrics().horizontalAdvance("0000") + textPadding;
    ui->daysEdit->setMaximumWidth(qMax(ui->daysEdit->maximumWidth(), needed));
    ui->daysEdit->setMinimumWidth(needed);
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
