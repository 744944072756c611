#pragma once

#include <QDialog>

#include "DataHandler.h"
#include "ItemPtr.h"

class QListWidgetItem;
class Ui_UserGroupsDialog;

// The groups of one listed user: a box per group, ticked while the user is a member, and a line
// to make new groups.
class UserGroupsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    UserGroupsDialog(QString i_userName, QWidget* parent = nullptr);
    ~UserGroupsDialog() override;

    Ui_UserGroupsDialog* Form() const { return ui; }

    void OnUserGroupAdded(ItemPtr i_group);

public slots:
    void OnNewGroupButtonClicked();
    void OnGroupItemChanged(QListWidgetItem* ip_item);

private:
    void AddRow(const QString& name, bool checked);

    QString userName;
    Ui_UserGroupsDialog* ui;
};
