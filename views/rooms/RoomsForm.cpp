#include "RoomsForm.h"

#include <QMenu>
#include <QMessageBox>

#include "ActionSetToolBar.h"
#include "ChatLogForm.h"
#include "ChatText.h"
#include "CreateRoomDialog.h"
#include "Data.h"
#include "RoomForm.h"
#include "RoomListItemWidget.h"
#include "RoomWallForm.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SizeManager.h"
#include "TabFocus.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "ui_RoomsForm.h"

using namespace ServerTypes;

namespace {
const char* const roomNode = "room_node";
const char* const activityAlert = "room_activity_alert";
const char* const privateRoomAdd = "enable_private_room_add";
constexpr int listWidth = 220;

const ActionSetToolBar::SetAction roomActions[] = {
    {"room_list", "create_room", "Create Room", ":/icons/room_icon"},
    {"room_list", "refresh_room_list", "Refresh Room List", ":/icons/room_icon"},
    {"room_list", privateRoomAdd, "Accept Private Room Invitations", ":/icons/room_icon"},
    {"room", "toggle_room_autojoin", "Toggle Autojoin", ":/icons/room_icon"},
    {"room", "toggle_room_activity_alert", "Toggle Activity Alert", ":/icons/alert_icon"},
    {"room", "room_chat_log", "Chat Log", ":/icons/note_icon"},
    {"room", "room_wall", "Room Wall", ":/icons/wall_icon"},
    {"room", "give_up_membership", "Give Up Membership", ":/icons/room_icon"},
    {"room", "give_up_ownership", "Give Up Room", ":/icons/room_icon"},
};

void DeclareRoomType(const char* name, bool valueless, Primacy primacy)
{
    Type* type = d.NewType(name, primacy, valueless, true);
    // Each room holds at most one of each.
    d.GetType(room)->RelateToType(type, One, One, false);
}

bool AskYes(const QString& title, const QString& text)
{
    return QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}
} // namespace

RoomsForm::RoomsForm(QWidget* parent) : QWidget(parent), ui(new Ui_RoomsForm)
{
    ui->setupUi(this);
    ui->horizontalLayout->setContentsMargins(0, 0, 0, 0);
    ui->roomList->setHeaderLabels({tr("Room Name"), tr("Users")});
    ui->roomList->setColumnWidth(0, 150);
    ui->roomList->setColumnWidth(1, 30);
    ui->roomList->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->roomSplitter->setStretchFactor(0, 1);
    ui->roomSplitter->setStretchFactor(1, 0);
    connect(ui->roomList, &QTreeWidget::customContextMenuRequested, this,
            &RoomsForm::OnRoomListContextMenuRequested);
    connect(ui->roomList, &QTreeWidget::itemDoubleClicked, this,
            &RoomsForm::OnRoomListItemDoubleClicked);
}

RoomsForm::~RoomsForm()
{
    delete ui;
}

void RoomsForm::Init()
{
    DeclareRoomType(roomNode, false, PrimacyRoot);
    Type* rooms = d.GetType(room);
    Listen(rooms->itemAdded, this, &RoomsForm::OnRoomAdded);
    for (ItemPtr existing : g(room))
        OnRoomAdded(existing);
    struct RolePath
    {
        const char* mark;
        PathNodeRelation relation;
        void (RoomsForm::*handler)(ItemPtr);
    };
    const RolePath paths[] = {
        {userCount, PathRequired, &RoomsForm::OnRoomUserCountChanged},
        {isOwner, PathRequired, &RoomsForm::OnBecomingRoomOwner},
        {isOperator, PathRequired, &RoomsForm::OnBecomingRoomOperator},
        {isMember, PathRequired, &RoomsForm::OnBecomingRoomMember},
        {isMember, PathAbsent, &RoomsForm::OnLosingRoomRole},
        {isOperator, PathAbsent, &RoomsForm::OnLosingRoomRole},
        {isOwner, PathAbsent, &RoomsForm::OnLosingRoomRole},
    };
    for (const RolePath& path : paths)
    {
        auto* root = new PathNode(&d, room);
        new PathNode(root, path.mark, path.relation);
        d.AddPathHandler(root, this, path.handler);
    }
    ui->roomList->sortByColumn(0, Qt::AscendingOrder);
    d.AddConnectionHandler(rooms, d.GetType(inRoom), this, &RoomsForm::OnEnteredRoom);

    if (actionBar)
    {
        for (const ActionSetToolBar::SetAction& action : roomActions)
        {
            actionBar->AddSetAction(action);
            if (QString(action.id) == privateRoomAdd)
            {
                actionBar->RegisterWidget(ui->roomList, "room_list");
                actionBar->AddWidgetColumnKey(ui->roomList, "room", 0);
            }
        }
    }
    DeclareRoomType(RoomForm::formType, false, PrimacyRoot);
    ui->roomSplitter->setSizes({width() - listWidth, listWidth});
    if (sizeManager)
    {
        sizeManager->RegisterSplitter("room_list_splitter", ui->roomSplitter, {});
        sizeManager->RegisterTreeWidget("room_list", ui->roomList);
    }
    if (gp_server)
    {
        connect(gp_server, &Server::PrivateRoomAddEnabled, this,
                &RoomsForm::OnPrivateRoomAddEnabled);
        connect(gp_server, &Server::Connected, this, &RoomsForm::OnConnected);
    }
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &RoomsForm::OnToolBarActionTriggered);
    connect(ui->roomsTabControl, &QTabWidget::tabCloseRequested, this, &RoomsForm::OnRoomTabClosed);
    DeclareRoomType(RoomWallForm::formType, false, PrimacyRoot);
    Type* alert = d.NewType(activityAlert, PrimacyLeaf, true, true);
    rooms->RelateToType(alert, One, Many, false);
}

QTreeWidgetItem* RoomsForm::RowOf(ItemPtr roomItem) const
{
    return ViewAddress::Find<QTreeWidgetItem>(roomItem[roomNode]);
}

void RoomsForm::OnRoomAdded(ItemPtr i_room)
{
    if (i_room.IsConnected(roomNode))
        return;
    auto* row = new QRoomListItemWidget(ui->roomList);
    row->setText(0, i_room.AsString());
    ViewAddress::Enter(row);
    i_room.Connect(d.GetType(roomNode)->GetItem(ViewAddress::Of<QTreeWidgetItem>(row)));
}

void RoomsForm::OnRoomUserCountChanged(ItemPtr i_room)
{
    QTreeWidgetItem* row = RowOf(i_room);
    if (!row)
        return;
    const int count = i_room[userCount].AsInt();
    row->setText(1, count != 0 ? QString::number(count) : QString());
}

void RoomsForm::ChangeRowFont(ItemPtr roomItem, bool italic, bool underline, bool bold)
{
    QTreeWidgetItem* row = RowOf(roomItem);
    if (!row)
        return;
    QFont font = row->font(0);
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    row->setFont(0, font);
    ui->roomList->sortItems(ui->roomList->sortColumn(),
                            ui->roomList->header()->sortIndicatorOrder());
}

void RoomsForm::OnBecomingRoomOwner(ItemPtr i_room)
{
    ChangeRowFont(i_room, true, true, true);
}

void RoomsForm::OnBecomingRoomOperator(ItemPtr i_room)
{
    QTreeWidgetItem* row = RowOf(i_room);
    if (row)
        ChangeRowFont(i_room, true, row->font(0).underline(), true);
}

void RoomsForm::OnBecomingRoomMember(ItemPtr i_room)
{
    QTreeWidgetItem* row = RowOf(i_room);
    if (row && !i_room.IsConnected(isOwner) && !i_room.IsConnected(isOperator))
        ChangeRowFont(i_room, true, row->font(0).underline(), row->font(0).bold());
}

void RoomsForm::OnLosingRoomRole(ItemPtr i_room)
{
    ChangeRowFont(i_room, i_room.IsConnected(isMember), i_room.IsConnected(isOwner),
                  i_room.IsConnected(isOperator));
}

void RoomsForm::OnEnteredRoom(ConnectionInfo& i_connection)
{
    ItemPtr roomItem = i_connection.from;
    if (roomItem.GetType() != d.GetType(room))
        roomItem = i_connection.to;
    // A re-join after a reconnection keeps the page that is open; a page the server just took
    // out of the room does not count.
    const RoomForm* open = ViewAddress::Find<RoomForm>(roomItem[RoomForm::formType]);
    if (open && !open->HasLeft())
        return;
    auto* form = new RoomForm(roomItem.AsString());
    ui->roomsTabControl->addTab(form, QIcon(":/icons/room_icon"), roomItem.AsString());
    form->Init();
}

void RoomsForm::OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (ip_item && i_column == 0 && gp_server)
        gp_server->EnterRoom(ip_item->text(0), false);
}

void RoomsForm::OnRoomListContextMenuRequested(const QPoint& i_position)
{
    if (!ui->roomList->itemAt(i_position))
        return;
    QMenu menu;
    menu.addAction(QIcon(":/icons/room_icon"), tr("Enter Room"), this, &RoomsForm::OnEnterRoom);
    menu.exec(ui->roomList->viewport()->mapToGlobal(i_position));
}

void RoomsForm::OnEnterRoom()
{
    const QList<QTreeWidgetItem*> selected = ui->roomList->selectedItems();
    if (!selected.isEmpty() && gp_server)
        gp_server->EnterRoom(selected.first()->text(0), false);
}

void RoomsForm::OnConnected()
{
    Settings::Set(privateRoomAdd, "no");
}

void RoomsForm::OnPrivateRoomAddEnabled(bool i_enabled)
{
    Settings::Set(privateRoomAdd, i_enabled ? "yes" : "no");
    if (actionBar)
        actionBar->SetWidgetActionText(ui->roomList, privateRoomAdd,
                                       i_enabled ? tr("Reject Private Room Invitations")
                                                 : tr("Accept Private Room Invitations"));
}

void RoomsForm::ToggleMark(ItemPtr roomItem, const char* mark)
{
    if (roomItem.IsConnected(mark))
        roomItem.Disconnect(mark);
    else
        roomItem.NewItem(mark);
}

void RoomsForm::OpenChatLog(ItemPtr roomItem)
{
    auto* viewer = ViewAddress::Find<ChatLogForm>(roomItem[WindowTypes::chatLogForm]);
    if (!viewer)
    {
        viewer =
            new ChatLogForm(ChatText::LogPath(ChatText::LogKind::Room, roomItem.AsString()), this);
        ui->roomsTabControl->addTab(viewer, QIcon(":/icons/note_icon"), roomItem.AsString());
        roomItem.Connect(d.GetType(WindowTypes::chatLogForm)->GetItem(ViewAddress::Of(viewer)));
    }
    FocusWidgetAndParents(viewer);
}

void RoomsForm::OpenWall(ItemPtr roomItem)
{
    auto* wall = ViewAddress::Find<RoomWallForm>(roomItem[RoomWallForm::formType]);
    if (!wall)
    {
        wall = new RoomWallForm(roomItem.AsString(), this);
        ui->roomsTabControl->addTab(wall, QIcon(":/icons/wall_icon"), roomItem.AsString());
        roomItem.Connect(d.GetType(RoomWallForm::formType)->GetItem(ViewAddress::Of(wall)));
    }
    FocusWidgetAndParents(wall);
}

void RoomsForm::GiveUpMembership(ItemPtr roomItem)
{
    if (!roomItem.IsConnected(isMember) || roomItem.IsConnected(isOwner))
        return;
    const QString name = roomItem.AsString();
    if (AskYes(tr("Give up membership?"),
               tr("Are you sure you want to give up your membership to the %1 private room?")
                   .arg(name)) &&
        gp_server)
        gp_server->GiveUpPrivateRoomMembership(name);
}

void RoomsForm::GiveUpOwnership(ItemPtr roomItem)
{
    if (!roomItem.IsConnected(isOwner))
        return;
    const QString name = roomItem.AsString();
    if (!AskYes(tr("Give up membership?"),
                tr("Are you SURE you want to give up your ownership of the %1 private room?")
                    .arg(name)))
        return;
    if (!AskYes(tr("REALLY?"), tr("REALLY?")) || !gp_server)
        return;
    gp_server->GiveUpPrivateRoom(name);
    gp_server->LeaveRoom(name);
}

void RoomsForm::OnToolBarActionTriggered(QWidget*, QString i_action)
{
    if (i_action == "refresh_room_list")
    {
        if (gp_server)
            gp_server->GetRoomList();
        return;
    }
    if (i_action == "create_room")
    {
        if (!createRoomDialog)
            new CreateRoomDialog(this);
        createRoomDialog->show();
        return;
    }
    if (i_action == privateRoomAdd)
    {
        if (gp_server)
            gp_server->EnablePrivateRoomAdd(!Settings::IsYes(privateRoomAdd));
        return;
    }
    const QString name = actionBar->GetKey("room");
    if (name.isEmpty())
        return;
    ItemPtr roomItem = d.GetType(room)->GetItem(Value(name));
    if (i_action == "toggle_room_autojoin")
        ToggleMark(roomItem, roomAutojoin);
    else if (i_action == "toggle_room_activity_alert")
        ToggleMark(roomItem, activityAlert);
    else if (i_action == "room_chat_log")
        OpenChatLog(roomItem);
    else if (i_action == "room_wall")
        OpenWall(roomItem);
    else if (i_action == "give_up_membership")
        GiveUpMembership(roomItem);
    else if (i_action == "give_up_ownership")
        GiveUpOwnership(roomItem);
}

void RoomsForm::OnRoomTabClosed(int i_index)
{
    delete ui->roomsTabControl->widget(i_index);
}
