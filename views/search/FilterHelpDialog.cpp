#include "FilterHelpDialog.h"

#include "ui_FilterHelpDialog.h"

FilterHelpDialog* filterHelpDialog = nullptr;

FilterHelpDialog::FilterHelpDialog(QWidget* parent) : QDialog(parent), ui(new Ui_FilterHelpDialog)
{
    filterHelpDialog = this;
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
}

FilterHelpDialog::~FilterHelpDialog()
{
    if (filterHelpDialog == this)
        filterHelpDialog = nullptr;
    delete ui;
}

FilterHelpDialog* FilterHelpDialog::Open(QWidget* parent)
{
    if (!filterHelpDialog)
        new FilterHelpDialog(parent);
    filterHelpDialog->show();
    filterHelpDialog->raise();
    filterHelpDialog->activateWindow();
    return filterHelpDialog;
}
