#pragma once

#include <QDialog>

#include "DataHandler.h"
#include "ItemPtr.h"

class QListWidgetItem;
class Ui_UserGroupConfigDialog;

// Every user group with its download priority and whether its members may push uploads to us;
// groups are deleted here. At most one is open.
class UserGroupConfigDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit UserGroupConfigDialog(QWidget* parent = nullptr);
    ~UserGroupConfigDialog() override;

    Ui_UserGroupConfigDialog* Form() const { return ui; }

    void OnUserGroupAdded(ItemPtr i_group);
    void OnUserGroupRemoved(ItemPtr i_group);

private slots:
    void OnCurrentGroupItemChanged(QListWidgetItem* ip_current, QListWidgetItem* ip_previous);
    void OnPrioritySpinValueChanged(int i_value);
    void OnAcceptUploadsCheckboxToggled(bool i_checked);
    void OnDeleteClicked();

private:
    ItemPtr CurrentGroup() const;
    void EnableEditors(bool enabled);

    Ui_UserGroupConfigDialog* ui;
};

extern UserGroupConfigDialog* userGroupConfigDialog;
