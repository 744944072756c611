#pragma once

#include <QDialog>

#include "DataHandler.h"
#include "ItemPtr.h"

class Ui_AddSharedFolderDialog;

// Shares a new folder, or changes who may see a shared one: everyone, the whole user list or
// chosen user-list groups, written as marks and links on the folder's item. Without a folder
// item the dialog adds one; with one it edits that folder's audience only.
class AddSharedFolderDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit AddSharedFolderDialog(ItemPtr folder, QWidget* parent = nullptr);
    ~AddSharedFolderDialog() override;

    Ui_AddSharedFolderDialog* Form() const { return ui; }

public slots:
    void OnSelectFolderClicked();
    void OnAccessibleToEveryoneCheckStateChanged(int i_state);
    void OnAccessibleToUserListCheckStateChanged(int i_state);
    void accept() override;

private:
    void ShowAudience();
    void WriteGroups(ItemPtr folder);
    void OnSharedFolderRemoved(ItemPtr i_folder);

    Ui_AddSharedFolderDialog* ui;
    ItemPtr folderItem;
    // The edited folder was unshared while the dialog was open: OK then writes nothing.
    bool folderGone = false;
};
