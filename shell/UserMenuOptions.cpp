#include "UserMenuOptions.h"

#include <QAction>
#include <QMenu>

#include "Data.h"
#include "GiftPrivilegesDialog.h"
#include "ItemLogDialog.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "TabFocus.h"
#include "TransferQueueManager.h"
#include "ViewHooks.h"
#include "WindowTypes.h"

using namespace ServerTypes;

namespace {
bool HasMark(ItemPtr userItem, const char* type)
{
    return d.HasType(type) && userItem.IsConnected(type);
}

void SetMark(ItemPtr userItem, const char* type, bool on)
{
    if (!d.HasType(type))
        return;
    if (on)
        userItem.Connect(d.GetType(type)->GetGlobalNullItem());
    else
        userItem.Disconnect(type);
}

QList<ItemPtr> RoomsMarked(const char* mark)
{
    QList<ItemPtr> rooms;
    for (ItemPtr roomItem : g(room).Connected(mark).SortAlphabetic(true))
        rooms << roomItem;
    return rooms;
}

// A room name as a menu title: a lone "&" would mark a shortcut and vanish from the text.
QString MenuTitle(ItemPtr roomItem)
{
    return roomItem.AsString().replace('&', "&&");
}

// Whether the user is on the room's members or operators list; a room without one has nobody.
bool OnRoomList(ItemPtr roomItem, const char* type, ItemPtr userItem)
{
    ItemPtr list = roomItem[type];
    return !list.IsNull() && list.IsConnected(userItem);
}
} // namespace

UserMenuOptions::UserMenuOptions(QMenu* menu, QString user, QObject* parent)
    : QObject(parent), user(std::move(user))
{
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    ItemPtr userItem = UserItem();
    auto add = [&](const QString& text, const char* icon, void (UserMenuOptions::*slot)()) {
        QAction* action = menu->addAction(QIcon(icon), text);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    add(tr("Message user"), ":/icons/chat_icon", &UserMenuOptions::OnMessageUser);
    if (userItem.IsConnected(inUserList))
    {
        if (ViewHooks::userGroups)
            add(tr("Set user's groups"), ":/icons/users_icon", &UserMenuOptions::OnSetUserGroups);
        add(tr("Remove user from list"), ":/icons/remove_user_icon",
            &UserMenuOptions::OnRemoveUser);
    }
    else
    {
        add(tr("Add user to list"), ":/icons/add_user_icon", &UserMenuOptions::OnAddUser);
    }
    // Browsing and uploading join the menu with their views.
    if (ViewHooks::browseUser)
        add(tr("Browse user's files"), ":/icons/browse_icon", &UserMenuOptions::OnBrowseUser);
    if (ViewHooks::uploadToUser)
        add(tr("Upload to user"), ":/icons/browse_icon", &UserMenuOptions::OnUploadToUser);
    if (ViewHooks::userInfo)
        add(tr("Get User Info"), ":/icons/info_icon", &UserMenuOptions::OnGetUserInfo);
    if (ViewHooks::userNote)
        add(HasMark(userItem, WindowTypes::userNote) ? tr("Edit user note") : tr("Add user note"),
            ":/icons/note_icon", &UserMenuOptions::OnUserNote);
    if (d.HasType(onlineAlert))
        add(HasMark(userItem, onlineAlert) ? tr("Remove online status alert")
                                           : tr("Alert when user goes online"),
            ":/icons/alert_icon", &UserMenuOptions::OnAddRemoveOnlineAlert);
    if (Settings::Get(ServerSettings::privilegesTimeLeft).AsInt() > 0)
        add(tr("Gift Privileges"), ":/icons/gift_icon", &UserMenuOptions::OnGiftPrivileges);
    menu->addSeparator();
    if (HasMark(userItem, PeerTypes::unshared))
        add(tr("Re-share files with user"), ":/icons/browse_icon",
            &UserMenuOptions::OnReshareFilesWithUser);
    else
        add(tr("Unshare files from user"), ":/icons/browse_icon",
            &UserMenuOptions::OnUnshareFilesFromUser);
    if (userItem.IsConnected(isIgnored))
        add(tr("Unignore user"), ":/icons/chat_icon", &UserMenuOptions::OnUnignoreUser);
    else
        add(tr("Ignore user"), ":/icons/chat_icon", &UserMenuOptions::OnIgnoreUser);
    AddPrivateRooms(menu, userItem);
    if (Settings::GetText("user_level_logging") == "yes")
    {
        menu->addSeparator();
        add(tr("See User Log"), "", &UserMenuOptions::OnUserLog);
    }
}

void UserMenuOptions::AddPrivateRooms(QMenu* menu, ItemPtr userItem)
{
    const QList<ItemPtr> owned = RoomsMarked(isOwner);
    QList<ItemPtr> operated;
    for (ItemPtr roomItem : RoomsMarked(isOperator))
        if (!roomItem.IsConnected(isOwner))
            operated << roomItem;
    if (owned.isEmpty() && operated.isEmpty())
        return;
    menu->addSeparator();
    QMenu* rooms = menu->addMenu(tr("Private Rooms"));
    auto addRoomAction = [this](QMenu* roomMenu, const QString& text, const QString& roomName,
                                void (UserMenuOptions::*slot)()) {
        QAction* action = roomMenu->addAction(text);
        action->setData(roomName);
        connect(action, &QAction::triggered, this, slot);
    };
    auto addMembership = [&](QMenu* roomMenu, ItemPtr roomItem, bool member) {
        if (member)
            addRoomAction(roomMenu, tr("Remove User's Membership"), roomItem.AsString(),
                          &UserMenuOptions::OnRemoveUserMembership);
        else
            addRoomAction(roomMenu, tr("Give User Membership"), roomItem.AsString(),
                          &UserMenuOptions::OnAddUserMembership);
    };
    for (ItemPtr roomItem : owned)
    {
        QMenu* roomMenu = rooms->addMenu(QIcon(":/icons/chat_icon"), MenuTitle(roomItem));
        QFont font = roomMenu->menuAction()->font();
        font.setWeight(75);
        font.setUnderline(true);
        roomMenu->menuAction()->setFont(font);
        const bool member = OnRoomList(roomItem, roomMembers, userItem);
        const bool op = OnRoomList(roomItem, roomOperators, userItem);
        addMembership(roomMenu, roomItem, member);
        if (!member && !op)
            continue;
        roomMenu->addSeparator();
        if (op)
            addRoomAction(roomMenu, tr("Remove User's Operator Status"), roomItem.AsString(),
                          &UserMenuOptions::OnRemoveUserOperatorship);
        else
            addRoomAction(roomMenu, tr("Make User Operator"), roomItem.AsString(),
                          &UserMenuOptions::OnAddUserOperatorship);
    }
    for (ItemPtr roomItem : operated)
    {
        QMenu* roomMenu = rooms->addMenu(MenuTitle(roomItem));
        addMembership(roomMenu, roomItem, OnRoomList(roomItem, roomMembers, userItem));
    }
}

ItemPtr UserMenuOptions::UserItem() const
{
    return d.GetType(ServerTypes::user)->GetItem(Value(user));
}

QString UserMenuOptions::SenderRoom() const
{
    auto* action = qobject_cast<QAction*>(sender());
    return action ? action->data().toString() : QString();
}

void UserMenuOptions::OnMessageUser()
{
    if (ViewHooks::openChat)
        ViewHooks::openChat(user);
}

void UserMenuOptions::OnSetUserGroups()
{
    if (ViewHooks::userGroups)
        ViewHooks::userGroups(user);
}

void UserMenuOptions::OnAddUser()
{
    ItemPtr userItem = UserItem();
    if (!userItem.IsConnected(inUserList))
        userItem.NewItem(inUserList);
    if (Settings::GetText("open_groups_on_user_add") == "yes")
        OnSetUserGroups();
}

void UserMenuOptions::OnRemoveUser()
{
    UserItem().Disconnect(inUserList);
}

void UserMenuOptions::OnBrowseUser()
{
    if (ViewHooks::browseUser)
        ViewHooks::browseUser(user);
}

void UserMenuOptions::OnUploadToUser()
{
    if (ViewHooks::uploadToUser)
        ViewHooks::uploadToUser(user);
}

void UserMenuOptions::OnUserLog()
{
    (new ItemLogDialog(UserItem()))->show();
}

// The transfer engine refuses and removes the user's uploads along with setting the mark; without
// it (a view tested on its own) the mark alone keeps the user from the shares.
void UserMenuOptions::OnUnshareFilesFromUser()
{
    if (transferQueueManager)
        transferQueueManager->UnshareUser(user);
    else
        SetMark(UserItem(), PeerTypes::unshared, true);
}

void UserMenuOptions::OnReshareFilesWithUser()
{
    if (transferQueueManager)
        transferQueueManager->ReshareUser(user);
    else
        SetMark(UserItem(), PeerTypes::unshared, false);
}

void UserMenuOptions::OnIgnoreUser()
{
    SetMark(UserItem(), isIgnored, true);
}

void UserMenuOptions::OnUnignoreUser()
{
    SetMark(UserItem(), isIgnored, false);
}

void UserMenuOptions::OnAddUserMembership()
{
    if (gp_server)
        gp_server->AddPrivateRoomMember(SenderRoom(), user);
}

void UserMenuOptions::OnRemoveUserMembership()
{
    if (gp_server)
        gp_server->RemovePrivateRoomMember(SenderRoom(), user);
}

void UserMenuOptions::OnAddUserOperatorship()
{
    if (gp_server)
        gp_server->AddPrivateRoomOperator(SenderRoom(), user);
}

void UserMenuOptions::OnRemoveUserOperatorship()
{
    if (gp_server)
        gp_server->RemovePrivateRoomOperator(SenderRoom(), user);
}

void UserMenuOptions::OnUserNote()
{
    if (ViewHooks::userNote)
        ViewHooks::userNote(user);
}

void UserMenuOptions::OnGetUserInfo()
{
    if (!ViewHooks::userInfo)
        return;
    if (QWidget* form = ViewHooks::userInfo(user))
        FocusWidgetAndParents(form);
}

void UserMenuOptions::OnGiftPrivileges()
{
    (new GiftPrivilegesDialog(user))->show();
}

void UserMenuOptions::OnAddRemoveOnlineAlert()
{
    ItemPtr userItem = UserItem();
    if (HasMark(userItem, onlineAlert))
    {
        SetMark(userItem, onlineAlert, false);
        return;
    }
    SetMark(userItem, onlineAlert, true);
    if (gp_server)
        gp_server->TrackUser(user);
}
