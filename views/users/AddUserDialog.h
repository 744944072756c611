#pragma once

#include <QDialog>

class Ui_AddUserDialog;

// Puts a user on the user list once the server has said that the name exists.
class AddUserDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddUserDialog(QWidget* parent = nullptr);
    ~AddUserDialog() override;

    Ui_AddUserDialog* Form() const { return ui; }

public slots:
    void OnAddUserClicked();
    void OnAddUserResponse(QString i_user, bool i_exists);

private:
    void ShowStatus(const QString& text);

    Ui_AddUserDialog* ui;
    QString pendingAddUser;
};
