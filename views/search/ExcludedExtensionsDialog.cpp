#include "ExcludedExtensionsDialog.h"

#include <QMenu>

#include "Data.h"
#include "TransferTypes.h"
#include "ui_ExcludedExtensionsDialog.h"

using TransferTypes::excludedDownloadExtension;

ExcludedExtensionsDialog* excludedExtensionsDialog = nullptr;

ExcludedExtensionsDialog::ExcludedExtensionsDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui_ExcludedExtensionsDialog)
{
    ui->setupUi(this);
    excludedExtensionsDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
    Type* extensions = d.GetType(excludedDownloadExtension);
    Listen(extensions->itemAdded, this, &ExcludedExtensionsDialog::OnExtensionAdded);
    for (ItemPtr extension : extensions->GetItems())
        OnExtensionAdded(extension);
    connect(ui->newExtensionButton, &QPushButton::clicked, this,
            &ExcludedExtensionsDialog::OnNewExtensionButtonClicked);
    connect(ui->extensionListWidget, &QListWidget::customContextMenuRequested, this,
            &ExcludedExtensionsDialog::OnExtensionListContextMenuRequested);
}

ExcludedExtensionsDialog::~ExcludedExtensionsDialog()
{
    if (excludedExtensionsDialog == this)
        excludedExtensionsDialog = nullptr;
    delete ui;
}

void ExcludedExtensionsDialog::OnNewExtensionButtonClicked()
{
    const QString text = ui->newExtensionEdit->text().trimmed();
    ui->newExtensionEdit->clear();
    if (text.isEmpty())
        return;
    // A new item raises the added event, which lists it; an existing one raises nothing.
    d.GetType(excludedDownloadExtension)->GetItem(Value(text));
}

void ExcludedExtensionsDialog::OnExtensionAdded(ItemPtr i_extension)
{
    ui->extensionListWidget->addItem(i_extension.AsString());
}

void ExcludedExtensionsDialog::OnExtensionListContextMenuRequested(QPoint i_point)
{
    if (!ui->extensionListWidget->itemAt(i_point))
        return;
    QMenu menu;
    connect(menu.addAction(tr("Remove")), &QAction::triggered, this,
            &ExcludedExtensionsDialog::OnRemoveExcludedExtension);
    menu.exec(ui->extensionListWidget->viewport()->mapToGlobal(i_point));
}

void ExcludedExtensionsDialog::OnRemoveExcludedExtension()
{
    Type* extensions = d.GetType(excludedDownloadExtension);
    for (QListWidgetItem* row : ui->extensionListWidget->selectedItems())
    {
        // Removed meanwhile by other means: only the stale row goes.
        ItemPtr extension = extensions->HasItem(Value(row->text()));
        if (!extension.IsNull())
            extension.Remove();
        delete row;
    }
}
