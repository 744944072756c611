#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class ChangeListeningPortDialog;
}

// Records the port to listen on from the next start; the running client keeps its port. A dialog
// run modally belongs to its caller; a modeless one frees itself when it closes.
class ChangeListeningPortDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangeListeningPortDialog(QWidget* parent = nullptr);
    ~ChangeListeningPortDialog() override;

public slots:
    void accept() override;
    void reject() override;

private:
    void FreeUnlessCallerOwns();

    std::unique_ptr<Ui::ChangeListeningPortDialog> ui;
};
