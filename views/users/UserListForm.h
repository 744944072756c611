#pragma once

#include <QWidget>

#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "ItemPtr.h"
#include "UserInfoReply.h"

class QTreeWidget;
class QTreeWidgetItem;
class UserInfoForm;
class Ui_UserListForm;

// The Users tab: the user list with groups, notes, file counts and speeds, the unshared, ignored
// and online-alert lists, and the pages of other users' information. Every row follows a mark
// of a user in the store.
class UserListForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum Column
    {
        userColumn = 0,
        filesColumn = 1,
        speedColumn = 2,
        groupsColumn = 3,
        noteColumn = 4
    };
    static constexpr const char* onlineAlert = "user_online_alert";
    static constexpr const char* userListNode = "user_list_node";
    static constexpr const char* unsharedListNode = "unshared_list_node";
    static constexpr const char* ignoredListNode = "ignored_list_node";
    static constexpr const char* onlineAlertListNode = "online_alert_list_node";
    static constexpr const char* userInfoFormType = "user_info_form";

    explicit UserListForm(QWidget* parent = nullptr);
    ~UserListForm() override;

    void Init();
    void DataLoaded() override;

    void UpdateUserGroupsDisplay(QString i_user);
    UserInfoForm* GetUserInfoForm(QString i_user);
    Ui_UserListForm* Form() const { return ui; }
    // The user list is re-sorted once per burst of changes, on the next pass of the event loop.
    bool IsSortPending() const { return sortPending; }

    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);
    void OnUserAddedToList(ItemPtr i_user);
    void OnUserRemovedFromList(ItemPtr i_user);
    void OnUserUnshared(ItemPtr i_user);
    void OnUserReshared(ItemPtr i_user);
    void OnUserIgnored(ItemPtr i_user);
    void OnUserUnignored(ItemPtr i_user);
    void OnUserNoteChanged(ItemPtr i_user);
    void OnUserNoteRemoved(ItemPtr i_user);
    void OnUserOnlineAlertAdded(ItemPtr i_user);
    void OnUserOnlineAlertRemoved(ItemPtr i_user);
    void OnUserGroupAdded(ItemPtr i_user);
    void OnUserGroupRemoved(ItemPtr i_user);
    void OnUserSharedFileCount(ItemPtr i_user);
    void OnUserAverageSpeed(ItemPtr i_user);

public slots:
    void OnConnected();
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnUserListContextMenuRequested(const QPoint& i_point);
    void OnUnsharedListContextMenuRequested(const QPoint& i_point);
    void OnIgnoredListContextMenuRequested(const QPoint& i_point);
    void OnOnlineAlertListContextMenuRequested(const QPoint& i_point);
    void OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnUserInfoTabCloseRequested(int i_index);
    void OnUserInfoRequested(QString i_user);
    void SortUserList();

private:
    void AddUserListRow(ItemPtr user);
    void AddNotedRow(QTreeWidget* tree, const char* nodeType, ItemPtr user);
    void AddOnlineAlertRow(ItemPtr user);
    void RemoveRow(ItemPtr user, const char* nodeType);
    void SetNote(ItemPtr user, const QString& note, bool hasNote);
    void ShowMenu(QTreeWidget* tree, const QPoint& point);
    void ScheduleSort();

    Ui_UserListForm* ui;
    bool sortPending = false;
    UserInfoReply reply;
};

extern UserListForm* userListForm;
