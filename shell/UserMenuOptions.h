#pragma once

#include <QObject>
#include <QString>

#include "ItemPtr.h"

class QMenu;

// The per-user entries that every view showing users appends to its context menu. Each entry's
// text follows the user's marks at the moment of the click; the object lives while the menu runs.
class UserMenuOptions : public QObject
{
    Q_OBJECT

public:
    UserMenuOptions(QMenu* menu, QString user, QObject* parent = nullptr);

    // The online-alert mark's type, declared by the user list.
    static constexpr const char* onlineAlert = "user_online_alert";

public slots:
    void OnMessageUser();
    void OnSetUserGroups();
    void OnAddUser();
    void OnRemoveUser();
    void OnBrowseUser();
    void OnUploadToUser();
    void OnUserLog();
    void OnUnshareFilesFromUser();
    void OnReshareFilesWithUser();
    void OnIgnoreUser();
    void OnUnignoreUser();
    void OnAddUserMembership();
    void OnRemoveUserMembership();
    void OnAddUserOperatorship();
    void OnRemoveUserOperatorship();
    void OnUserNote();
    void OnGetUserInfo();
    void OnGiftPrivileges();
    void OnAddRemoveOnlineAlert();

private:
    ItemPtr UserItem() const;
    void AddPrivateRooms(QMenu* menu, ItemPtr userItem);
    QString SenderRoom() const;

    QString user;
};
