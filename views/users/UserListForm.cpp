#include "UserListForm.h"

#include <QMenu>
#include <QTimer>

#include "ActionSetToolBar.h"
#include "AddUserDialog.h"
#include "CachedIcon.h"
#include "ChatsForm.h"
#include "Data.h"
#include "DataSaver.h"
#include "EventToolBar.h"
#include "GeneralFunctions.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SizeManager.h"
#include "TabFocus.h"
#include "TransferQueueManager.h"
#include "UserGroupConfigDialog.h"
#include "UserInfoForm.h"
#include "UserListItemWidget.h"
#include "UserMenuOptions.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "ui_UserListForm.h"

using namespace ServerTypes;

UserListForm* userListForm = nullptr;

namespace {
const char* const actionSet = "user_list";

template <class Row = QTreeWidgetItem> Row* RowOf(ItemPtr userItem, const char* nodeType)
{
    return static_cast<Row*>(userItem[nodeType].AsPointer<QTreeWidgetItem>());
}

// A path from every user through one step.
PathNode* UserStep(const char* step, PathNodeRelation relation)
{
    auto* root = new PathNode(&d, user);
    new PathNode(root, step, relation);
    return root;
}

// A path from every user through two steps; the second hangs on the first when chained.
PathNode* UserSteps(const char* first, PathNodeRelation firstRelation, const char* second,
                    PathNodeRelation secondRelation, bool chained)
{
    auto* root = new PathNode(&d, user);
    auto* step = new PathNode(root, first, firstRelation);
    new PathNode(chained ? step : root, second, secondRelation);
    return root;
}

void DeclareNode(const char* name)
{
    Type* nodes = d.NewType(name, PrimacyRoot, false, true);
    nodes->RelateToType(d.GetType(user), One, One, false);
}

void SetUpTree(QTreeWidget* tree, const QList<QPair<const char*, int>>& columns)
{
    QStringList labels;
    for (const auto& column : columns)
        labels << UserListForm::tr(column.first);
    tree->setColumnCount(labels.size());
    tree->setHeaderLabels(labels);
    for (int index = 0; index < columns.size(); ++index)
        if (columns[index].second > 0)
            tree->setColumnWidth(index, columns[index].second);
    tree->setSortingEnabled(false);
    RegisterWidgetForTabFocus(tree, 1);
}
} // namespace

UserListForm::UserListForm(QWidget* parent) : QWidget(parent), ui(new Ui_UserListForm)
{
    userListForm = this;
    ui->setupUi(this);
    SetUpTree(ui->userList,
              {{"User", 200}, {"Files", 80}, {"K/s", 60}, {"Groups", 300}, {"Note", 300}});
    SetUpTree(ui->unsharedList, {{"User", 200}, {"Note", 0}});
    SetUpTree(ui->ignoredList, {{"User", 200}, {"Note", 0}});
    SetUpTree(ui->onlineAlertList, {{"User", 200}});
    layout()->setContentsMargins(0, 0, 0, 0);
    connect(ui->userList, &QTreeWidget::customContextMenuRequested, this,
            &UserListForm::OnUserListContextMenuRequested);
    connect(ui->unsharedList, &QTreeWidget::customContextMenuRequested, this,
            &UserListForm::OnUnsharedListContextMenuRequested);
    connect(ui->ignoredList, &QTreeWidget::customContextMenuRequested, this,
            &UserListForm::OnIgnoredListContextMenuRequested);
    connect(ui->onlineAlertList, &QTreeWidget::customContextMenuRequested, this,
            &UserListForm::OnOnlineAlertListContextMenuRequested);
    for (QTreeWidget* tree : {ui->userList, ui->unsharedList, ui->ignoredList})
        connect(tree, &QTreeWidget::itemDoubleClicked, this,
                &UserListForm::OnUserItemDoubleClicked);
}

UserListForm::~UserListForm()
{
    delete ui;
    if (userListForm == this)
        userListForm = nullptr;
}

void UserListForm::Init()
{
    Type* alerts = d.NewType(onlineAlert, PrimacyLeaf, true, true);
    d.GetType(user)->RelateToType(alerts, Many, One, false);
    // The shares manager declares the unshared mark when it runs; without it the list keeps it.
    const bool declareUnshared = !d.HasType(PeerTypes::unshared);
    if (declareUnshared)
        d.GetType(user)->RelateToType(d.NewType(PeerTypes::unshared, PrimacyLeaf, true, true), Many,
                                      One, false);
    if (dataSaver)
    {
        dataSaver->AddSavedType(onlineAlert);
        dataSaver->AddSavedByConnectionType(user, onlineAlert);
        if (declareUnshared)
        {
            dataSaver->AddSavedType(PeerTypes::unshared);
            dataSaver->AddSavedByConnectionType(user, PeerTypes::unshared);
        }
        dataSaver->AddDataLoadedEventHandler(this);
    }
    if (gp_server)
        connect(gp_server, &Server::Connected, this, &UserListForm::OnConnected);
}

void UserListForm::OnConnected()
{
    for (ItemPtr listed : g(user).Connected(inUserList))
        gp_server->GetUserStats(listed.AsString());
}

void UserListForm::DataLoaded()
{
    for (const char* node : {userListNode, unsharedListNode, ignoredListNode, onlineAlertListNode})
        DeclareNode(node);

    for (ItemPtr listed : g(user).Connected(inUserList))
    {
        AddUserListRow(listed);
        if (gp_server)
            gp_server->TrackUser(listed.AsString());
    }
    ui->userList->sortItems(userColumn, Qt::AscendingOrder);
    for (ItemPtr unshared : g(user).Connected(PeerTypes::unshared))
        AddNotedRow(ui->unsharedList, unsharedListNode, unshared);
    ui->unsharedList->setSortingEnabled(true);
    for (ItemPtr ignored : g(user).Connected(isIgnored))
        AddNotedRow(ui->ignoredList, ignoredListNode, ignored);
    ui->ignoredList->setSortingEnabled(true);
    for (ItemPtr alerted : g(user).Connected(onlineAlert))
        AddOnlineAlertRow(alerted);
    ui->onlineAlertList->sortItems(userColumn, Qt::AscendingOrder);

    d.AddPathHandler(UserStep(isOnline, PathOnConnect), this, &UserListForm::OnUserOnline);
    // Not tied to the list: an alerted user who is not listed goes back offline too.
    d.AddPathHandler(UserStep(isOnline, PathOnDisconnect), this, &UserListForm::OnUserOffline);
    d.AddPathHandler(UserStep(inUserList, PathOnConnect), this, &UserListForm::OnUserAddedToList);
    d.AddPathHandler(UserStep(inUserList, PathOnDisconnect), this,
                     &UserListForm::OnUserRemovedFromList);
    d.AddPathHandler(UserStep(PeerTypes::unshared, PathOnConnect), this,
                     &UserListForm::OnUserUnshared);
    d.AddPathHandler(UserStep(PeerTypes::unshared, PathOnDisconnect), this,
                     &UserListForm::OnUserReshared);
    d.AddPathHandler(UserStep(isIgnored, PathOnConnect), this, &UserListForm::OnUserIgnored);
    d.AddPathHandler(UserStep(isIgnored, PathOnDisconnect), this, &UserListForm::OnUserUnignored);
    d.AddPathHandler(UserStep(WindowTypes::userNote, PathOnConnect), this,
                     &UserListForm::OnUserNoteChanged);
    d.AddPathHandler(UserStep(WindowTypes::userNote, PathOnDisconnect), this,
                     &UserListForm::OnUserNoteRemoved);
    d.AddPathHandler(UserStep(onlineAlert, PathOnConnect), this,
                     &UserListForm::OnUserOnlineAlertAdded);
    d.AddPathHandler(UserStep(onlineAlert, PathOnDisconnect), this,
                     &UserListForm::OnUserOnlineAlertRemoved);

    if (actionBar)
    {
        actionBar->AddSetAction(actionSet, "manual_add_user", tr("Add User"),
                                ":/icons/add_user_icon", false);
        actionBar->AddSetAction(actionSet, "configure_user_groups", tr("Configure User Groups"),
                                ":/icons/users_icon", false);
        actionBar->RegisterWidget(ui->userListTab, actionSet);
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &UserListForm::OnActionBarTriggered);
    }
    d.AddPathHandler(UserSteps(inUserList, PathRequiredSilent, userListGroup, PathOnConnect, true),
                     this, &UserListForm::OnUserGroupAdded);
    d.AddPathHandler(
        UserSteps(inUserList, PathRequiredSilent, userListGroup, PathOnDisconnect, true), this,
        &UserListForm::OnUserGroupRemoved);
    if (sizeManager)
        sizeManager->RegisterTreeWidget("user_list", ui->userList);

    connect(ui->userInfoTabs, &QTabWidget::tabCloseRequested, this,
            &UserListForm::OnUserInfoTabCloseRequested);
    DeclareNode(userInfoFormType);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoRequested, this,
                &UserListForm::OnUserInfoRequested);

    if (gp_server)
        for (ItemPtr alerted : g(user).Connected(onlineAlert))
            gp_server->TrackUser(alerted.AsString());
    d.AddPathHandler(UserSteps(inUserList, PathRequired, sharedFileCount, PathRequired, false),
                     this, &UserListForm::OnUserSharedFileCount);
    d.AddPathHandler(UserSteps(inUserList, PathRequired, averageDownloadSpeed, PathRequired, false),
                     this, &UserListForm::OnUserAverageSpeed);
}

void UserListForm::AddUserListRow(ItemPtr userItem)
{
    const QString name = userItem.AsString();
    auto* row = new UserListItemWidget(ui->userList);
    row->setText(userColumn, name);
    row->setIcon(userColumn, CachedIcon(":/icons/offline_icon"));
    ItemPtr(d.GetType(userListNode)->GetItem(Value(static_cast<QTreeWidgetItem*>(row))))
        .Connect(userItem);
    UpdateUserGroupsDisplay(name);
    ItemPtr note = userItem[WindowTypes::userNote];
    if (!note.IsNull())
    {
        row->setIcon(noteColumn, CachedIcon(":/icons/note_icon"));
        row->setText(noteColumn, note.AsString());
    }
}

void UserListForm::AddNotedRow(QTreeWidget* tree, const char* nodeType, ItemPtr userItem)
{
    auto* row = new QTreeWidgetItem(tree, 0);
    row->setText(0, userItem.AsString());
    ItemPtr note = userItem[WindowTypes::userNote];
    if (!note.IsNull())
    {
        row->setIcon(1, CachedIcon(":/icons/note_icon"));
        row->setText(1, note.AsString());
    }
    ItemPtr(d.GetType(nodeType)->GetItem(Value(row))).Connect(userItem);
}

void UserListForm::AddOnlineAlertRow(ItemPtr userItem)
{
    auto* row = new QTreeWidgetItem(ui->onlineAlertList, 0);
    row->setText(0, userItem.AsString());
    row->setIcon(0, CachedIcon(userItem.IsConnected(isOnline) ? ":/icons/online_icon"
                                                              : ":/icons/offline_icon"));
    ItemPtr(d.GetType(onlineAlertListNode)->GetItem(Value(row))).Connect(userItem);
}

void UserListForm::RemoveRow(ItemPtr userItem, const char* nodeType)
{
    ItemPtr node = userItem[nodeType];
    if (node.IsNull())
        return;
    delete node.AsPointer<QTreeWidgetItem>();
    node.Remove();
}

void UserListForm::ScheduleSort()
{
    if (sortPending)
        return;
    sortPending = true;
    QTimer::singleShot(0, this, &UserListForm::SortUserList);
}

void UserListForm::SortUserList()
{
    sortPending = false;
    ui->userList->sortItems(userColumn, Qt::AscendingOrder);
}

void UserListForm::OnUserOnline(ItemPtr i_user)
{
    if (auto* row = RowOf<UserListItemWidget>(i_user, userListNode))
    {
        row->setIcon(userColumn, CachedIcon(":/icons/online_icon"));
        row->SetOnline(true);
        ScheduleSort();
    }
    const QString name = i_user.AsString();
    if (i_user.IsConnected(onlineAlert) && eventToolBar)
        eventToolBar->AddEvent(name + " online", ":/icons/online_icon", ui->onlineAlertList,
                               name + " is online", "user_online", true);
    if (QTreeWidgetItem* alertRow = RowOf(i_user, onlineAlertListNode))
        alertRow->setIcon(0, CachedIcon(":/icons/online_icon"));
}

void UserListForm::OnUserOffline(ItemPtr i_user)
{
    if (auto* row = RowOf<UserListItemWidget>(i_user, userListNode))
    {
        row->setIcon(userColumn, CachedIcon(":/icons/offline_icon"));
        row->SetOnline(false);
        ScheduleSort();
    }
    if (QTreeWidgetItem* alertRow = RowOf(i_user, onlineAlertListNode))
        alertRow->setIcon(0, CachedIcon(":/icons/offline_icon"));
}

void UserListForm::OnUserAddedToList(ItemPtr i_user)
{
    if (RowOf(i_user, userListNode))
        return;
    AddUserListRow(i_user);
    if (i_user.IsConnected(isOnline))
        OnUserOnline(i_user);
    const QString name = i_user.AsString();
    if (gp_server)
        gp_server->TrackUser(name);
    ScheduleSort();
    OnUserSharedFileCount(i_user);
    OnUserAverageSpeed(i_user);
    if (gp_server)
        gp_server->GetUserStats(name);
}

void UserListForm::OnUserRemovedFromList(ItemPtr i_user)
{
    RemoveRow(i_user, userListNode);
}

void UserListForm::OnUserUnshared(ItemPtr i_user)
{
    if (!RowOf(i_user, unsharedListNode))
        AddNotedRow(ui->unsharedList, unsharedListNode, i_user);
}

void UserListForm::OnUserReshared(ItemPtr i_user)
{
    RemoveRow(i_user, unsharedListNode);
}

void UserListForm::OnUserIgnored(ItemPtr i_user)
{
    if (!RowOf(i_user, ignoredListNode))
        AddNotedRow(ui->ignoredList, ignoredListNode, i_user);
}

void UserListForm::OnUserUnignored(ItemPtr i_user)
{
    RemoveRow(i_user, ignoredListNode);
}

void UserListForm::SetNote(ItemPtr userItem, const QString& note, bool hasNote)
{
    const QIcon icon = hasNote ? CachedIcon(":/icons/note_icon") : QIcon();
    if (QTreeWidgetItem* row = RowOf(userItem, userListNode))
    {
        row->setText(noteColumn, note);
        row->setIcon(noteColumn, icon);
    }
    for (const char* node : {unsharedListNode, ignoredListNode})
    {
        if (QTreeWidgetItem* row = RowOf(userItem, node))
        {
            row->setText(1, note);
            row->setIcon(1, icon);
        }
    }
}

void UserListForm::OnUserNoteChanged(ItemPtr i_user)
{
    SetNote(i_user, i_user[WindowTypes::userNote].AsString(), true);
}

void UserListForm::OnUserNoteRemoved(ItemPtr i_user)
{
    SetNote(i_user, QString(), false);
}

void UserListForm::OnUserOnlineAlertAdded(ItemPtr i_user)
{
    if (RowOf(i_user, onlineAlertListNode))
        return;
    AddOnlineAlertRow(i_user);
    ui->onlineAlertList->sortItems(userColumn, Qt::AscendingOrder);
}

void UserListForm::OnUserOnlineAlertRemoved(ItemPtr i_user)
{
    RemoveRow(i_user, onlineAlertListNode);
}

void UserListForm::OnUserGroupAdded(ItemPtr i_user)
{
    UpdateUserGroupsDisplay(i_user.AsString());
}

void UserListForm::OnUserGroupRemoved(ItemPtr i_user)
{
    UpdateUserGroupsDisplay(i_user.AsString());
}

void UserListForm::OnUserSharedFileCount(ItemPtr i_user)
{
    QTreeWidgetItem* row = RowOf(i_user, userListNode);
    ItemPtr count = i_user[sharedFileCount];
    if (row && !count.IsNull())
        row->setText(filesColumn, CommafyNumber(count.AsInt64()));
}

void UserListForm::OnUserAverageSpeed(ItemPtr i_user)
{
    QTreeWidgetItem* row = RowOf(i_user, userListNode);
    const long long speed = i_user[averageDownloadSpeed].AsInt64();
    if (row && speed != 0)
        row->setText(speedColumn, QString("%1").arg(speed / 1024.0, 0, 'f', 1));
}

void UserListForm::UpdateUserGroupsDisplay(QString i_user)
{
    ItemPtr userItem = d.GetType(user)->HasItem(Value(i_user));
    QTreeWidgetItem* row = RowOf(userItem, userListNode);
    if (!row)
        return;
    QStringList names;
    ItemPtr listed = userItem[inUserList];
    if (!listed.IsNull())
        for (ItemPtr group : listed.GetItems(userListGroup).SortAlphabetic(true))
            names << group.AsString();
    row->setText(groupsColumn, names.join(", "));
}

void UserListForm::ShowMenu(QTreeWidget* tree, const QPoint& point)
{
    QTreeWidgetItem* row = tree->itemAt(point);
    if (!row)
        return;
    QMenu menu;
    UserMenuOptions options(&menu, row->text(0));
    menu.exec(tree->viewport()->mapToGlobal(point));
}

void UserListForm::OnUserListContextMenuRequested(const QPoint& i_point)
{
    ShowMenu(ui->userList, i_point);
}

void UserListForm::OnUnsharedListContextMenuRequested(const QPoint& i_point)
{
    ShowMenu(ui->unsharedList, i_point);
}

void UserListForm::OnIgnoredListContextMenuRequested(const QPoint& i_point)
{
    ShowMenu(ui->ignoredList, i_point);
}

void UserListForm::OnOnlineAlertListContextMenuRequested(const QPoint& i_point)
{
    ShowMenu(ui->onlineAlertList, i_point);
}

void UserListForm::OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    if (ip_item && chatsForm)
        chatsForm->OpenChatForm(ip_item->text(0));
}

void UserListForm::OnActionBarTriggered(QWidget*, QString i_action)
{
    if (i_action == "manual_add_user")
    {
        (new AddUserDialog(this))->show();
    }
    else if (i_action == "configure_user_groups")
    {
        if (userGroupConfigDialog)
        {
            userGroupConfigDialog->activateWindow();
            userGroupConfigDialog->setFocus();
            return;
        }
        (new UserGroupConfigDialog(this))->show();
    }
}

void UserListForm::OnUserInfoRequested(QString i_user)
{
    if (!peerMessenger)
        return;
    const std::uint32_t uploadSlots = Settings::Get("upload_slots").AsUInt();
    // The transfer engine's own counts, so that the reply says what the queue will do.
    const std::uint32_t queued =
        transferQueueManager ? std::uint32_t(transferQueueManager->QueuedUploadCount()) : 0;
    const bool freeToUpload = !transferQueueManager || transferQueueManager->IsFreeToUpload();
    MemStream message =
        reply.Build(Settings::GetText("user_description"), Settings::GetText("user_picture_file"),
                    uploadSlots, queued, freeToUpload);
    peerMessenger->SendMessage(i_user, message);
}

UserInfoForm* UserListForm::GetUserInfoForm(QString i_user)
{
    ItemPtr userItem = d.GetType(user)->GetItem(Value(i_user));
    if (auto* open = ViewAddress::Find<UserInfoForm>(userItem[userInfoFormType]))
        return open;
    auto* form = new UserInfoForm(this);
    form->Init(i_user);
    ui->userInfoTabs->addTab(form, CachedIcon(":/icons/info_icon"), i_user);
    ItemPtr(d.GetType(userInfoFormType)->GetItem(ViewAddress::Of(form))).Connect(userItem);
    return form;
}

void UserListForm::OnUserInfoTabCloseRequested(int i_index)
{
    auto* form = qobject_cast<UserInfoForm*>(ui->userInfoTabs->widget(i_index));
    if (!form)
        return;
    ui->userInfoTabs->removeTab(i_index);
    if (Type* forms = d.HasType(userInfoFormType))
        if (ItemPtr record = forms->HasItem(ViewAddress::Of(form)); !record.IsNull())
            record.Remove();
    form->deleteLater();
}
