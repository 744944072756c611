#pragma once

#include <QDialog>

#include "DataHandler.h"
#include "ItemPtr.h"

class QPoint;
class Ui_ExcludedExtensionsDialog;

// Edits the file-name endings that folder downloads pass over. Every change goes to the store at
// once; there is no OK or Cancel. At most one is open, named by excludedExtensionsDialog.
class ExcludedExtensionsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit ExcludedExtensionsDialog(QWidget* parent = nullptr);
    ~ExcludedExtensionsDialog() override;

    Ui_ExcludedExtensionsDialog* Form() const { return ui; }

public slots:
    void OnNewExtensionButtonClicked();
    void OnExtensionListContextMenuRequested(QPoint i_point);
    void OnRemoveExcludedExtension();

private:
    void OnExtensionAdded(ItemPtr i_extension);

    Ui_ExcludedExtensionsDialog* ui;
};

extern ExcludedExtensionsDialog* excludedExtensionsDialog;
