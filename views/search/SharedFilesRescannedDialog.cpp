#include "SharedFilesRescannedDialog.h"

#include "ui_SharedFilesRescannedDialog.h"

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui_SharedFilesRescannedDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
}

SharedFilesRescannedDialog::~SharedFilesRescannedDialog()
{
    delete ui;
}

void SharedFilesRescannedDialog::Append(QString i_text)
{
    ui->plainTextEdit->appendPlainText(i_text);
}
