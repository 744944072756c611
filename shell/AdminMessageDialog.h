#pragma once

#include <memory>

#include <QDialog>
#include <QString>

namespace Ui {
class AdminMessageDialog;
}

// Shows a message from the server's administrators with the local time it arrived. The message
// may be markup; it is shown formatted, but no link in it is followed and nothing it names is
// loaded. It frees itself when closed.
class AdminMessageDialog : public QDialog
{
    Q_OBJECT

public:
    AdminMessageDialog(QString i_message, QWidget* parent = nullptr);
    ~AdminMessageDialog() override;

private:
    std::unique_ptr<Ui::AdminMessageDialog> ui;
};
