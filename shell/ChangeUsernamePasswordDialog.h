#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class ChangeUsernamePasswordDialog;
}

// Edits the account name and password used at the next login. A dialog run modally (the
// first-start question) belongs to its caller; a modeless one frees itself when it closes.
class ChangeUsernamePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    ChangeUsernamePasswordDialog(bool firstRun, QWidget* parent = nullptr);
    ~ChangeUsernamePasswordDialog() override;

public slots:
    void accept() override;
    void reject() override;

private:
    void FreeUnlessCallerOwns();

    std::unique_ptr<Ui::ChangeUsernamePasswordDialog> ui;
    bool firstRun;
};
