#pragma once

#include <QDialog>

class Ui_SharedFilesRescannedDialog;

// Shows the lines it is given, such as what a rescan of the shares changed; frees itself when
// closed.
class SharedFilesRescannedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SharedFilesRescannedDialog(QWidget* parent = nullptr);
    ~SharedFilesRescannedDialog() override;

    void Append(QString i_text);
    Ui_SharedFilesRescannedDialog* Form() const { return ui; }

private:
    Ui_SharedFilesRescannedDialog* ui;
};
