#pragma once

#include <memory>

#include <QDialog>
#include <QString>

namespace Ui {
class GiftPrivilegesDialog;
}

// Gifts days of the local user's privileges to another user through the server. It frees itself
// when it closes or has sent the gift.
class GiftPrivilegesDialog : public QDialog
{
    Q_OBJECT

public:
    GiftPrivilegesDialog(QString i_user, QWidget* parent = nullptr);
    ~GiftPrivilegesDialog() override;

public slots:
    void OnGiftClicked();

private:
    std::unique_ptr<Ui::GiftPrivilegesDialog> ui;
    QString user;
};
