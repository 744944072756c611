#include "CreateRoomDialog.h"

#include "Server.h"
#include "ui_CreateRoomDialog.h"

CreateRoomDialog* createRoomDialog = nullptr;

CreateRoomDialog::CreateRoomDialog(QWidget* parent) : QDialog(parent), ui(new Ui_CreateRoomDialog)
{
    createRoomDialog = this;
    ui->setupUi(this);
    connect(ui->createRoomButton, &QPushButton::clicked, this, &CreateRoomDialog::OnButtonClicked);
}

CreateRoomDialog::~CreateRoomDialog()
{
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
    delete ui;
}

void CreateRoomDialog::OnButtonClicked()
{
    const QString name = ui->roomNameEdit->text().trimmed();
    if (name.isEmpty())
        return;
    if (gp_server)
        gp_server->EnterRoom(name, ui->createPrivateCheckBox->isChecked());
    // Cleared at once, so that the next "Create Room" makes a fresh dialog.
    createRoomDialog = nullptr;
    hide();
    deleteLater();
}
