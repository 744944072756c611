#include "RoomForm.h"

#include <algorithm>

#include <QDesktopServices>
#include <QMenu>
#include <QTimer>
#include <QUrl>

#include "ActionSetToolBar.h"
#include "ChatLogForm.h"
#include "ChatText.h"
#include "ChatsForm.h"
#include "Data.h"
#include "EventToolBar.h"
#include "GeneralFunctions.h"
#include "RoomUserListItemWidget.h"
#include "Server.h"
#include "ServerTypes.h"
#include "SizeManager.h"
#include "TabFocus.h"
#include "UserMenuOptions.h"
#include "ViewAddress.h"
#include "ViewHooks.h"
#include "WindowTypes.h"
#include "ui_RoomForm.h"

using namespace ServerTypes;

namespace {
const char* const activityAlert = "room_activity_alert";
const char* const actionSet = "room";

struct ColumnHeader
{
    RoomForm::Column column;
    const char* text;
    int width;
};

const ColumnHeader columnHeaders[] = {
    {RoomForm::markColumn, "", 20},       {RoomForm::flagColumn, "", 25},
    {RoomForm::nameColumn, "User", 90},   {RoomForm::noteColumn, "", 25},
    {RoomForm::filesColumn, "Files", 65}, {RoomForm::speedColumn, "K/s", 40},
};

// A path from every user through one step to the room (or another type).
PathNode* UserPath(const char* step, PathNodeRelation relation)
{
    auto* root = new PathNode(&d, user);
    new PathNode(root, step, relation);
    return root;
}

PathNode* RoomPath(ItemPtr roomItem, const char* step, PathNodeRelation relation)
{
    auto* root = new PathNode(roomItem);
    new PathNode(root, step, relation);
    return root;
}
} // namespace

RoomForm::RoomForm(const QString& room, QWidget* parent)
    : ChatView(parent, true), ui(new Ui_RoomForm), room(room)
{
    ViewAddress::Enter(this);
    ui->setupUi(this);
    SetChatView(ui->chatView);

    QList<int> sizes = ui->splitter->sizes();
    sizes[0] = 280;
    sizes[1] = 280;
    ui->splitter->setSizes(sizes);
    ui->splitter->setStretchFactor(0, 1);
    ui->splitter->setStretchFactor(1, 0);

    ui->userList->setColumnCount(6);
    QStringList labels;
    for (const ColumnHeader& header : columnHeaders)
        labels << tr(header.text);
    ui->userList->setHeaderLabels(labels);
    for (const ColumnHeader& header : columnHeaders)
        ui->userList->setColumnWidth(header.column, header.width);
    // Wide enough for a large share's file count in the font the desktop gives.
    const int filesWidth = ui->userList->fontMetrics().horizontalAdvance("9,999,999") + 16;
    ui->userList->setColumnWidth(filesColumn, std::max(filesWidth, 65));
    ui->userList->sortByColumn(nameColumn, Qt::AscendingOrder);
    ui->userList->header()->setStretchLastSection(true);
    ui->userList->headerItem()->setIcon(noteColumn, QIcon(":/icons/note_icon"));

    ItemPtr roomItem = RoomItem();
    auto* joined = new PathNode(&d, user);
    new PathNode(joined, roomItem, PathRequired);
    new PathNode(joined, averageDownloadSpeed, PathRequired);
    new PathNode(joined, sharedFileCount, PathRequired);
    new PathNode(joined, countryCode, PathRequired);
    d.AddPathHandler(joined, this, &RoomForm::OnUserAdded);
    auto* left = new PathNode(&d, user);
    new PathNode(left, roomItem, PathOnDisconnect);
    d.AddPathHandler(left, this, &RoomForm::OnUserRemoved);
    auto* made = UserPath(roomOperators, PathRequired);
    new PathNode(made->children.begin()->first, roomItem, PathRequired);
    d.AddPathHandler(made, this, &RoomForm::OnOperatorAdded);
    auto* unmade = UserPath(roomOperators, PathOnDisconnect);
    new PathNode(unmade->children.begin()->first, roomItem, PathRequired);
    d.AddPathHandler(unmade, this, &RoomForm::OnOperatorRemoved);
    if (gp_server)
        connect(gp_server, &Server::RoomChat, this, &RoomForm::OnRoomChat);
    d.AddPathHandler(RoomPath(roomItem, inRoom, PathOnDisconnect), this, &RoomForm::OnLeftRoom);

    if (actionBar)
    {
        actionBar->RegisterWidget(this, actionSet);
        actionBar->AddWidgetKey(this, "room", room);
        SetActionTexts();
    }
    d.AddPathHandler(RoomPath(roomItem, roomAutojoin, PathOnConnect), this,
                     &RoomForm::OnRoomAutojoinOn);
    d.AddPathHandler(RoomPath(roomItem, roomAutojoin, PathOnDisconnect), this,
                     &RoomForm::OnRoomAutojoinOff);
    d.AddPathHandler(RoomPath(roomItem, activityAlert, PathOnConnect), this,
                     &RoomForm::OnRoomActivityAlertOn);
    d.AddPathHandler(RoomPath(roomItem, activityAlert, PathOnDisconnect), this,
                     &RoomForm::OnRoomActivityAlertOff);
    if (gp_server)
    {
        connect(gp_server, &Server::Connected, this, &RoomForm::OnConnected);
        connect(gp_server, &Server::Disconnected, this, &RoomForm::OnDisconnected);
    }
    d.AddPathHandler(UserPath(WindowTypes::userNote, PathOnConnect), this,
                     &RoomForm::OnUserNoteChanged);
    d.AddPathHandler(UserPath(WindowTypes::userNote, PathOnDisconnect), this,
                     &RoomForm::OnUserNoteRemoved);

    connect(ui->chatEdit, &QLineEdit::returnPressed, this, &RoomForm::OnEnterPressed);
    connect(ui->chatView, &QTextBrowser::anchorClicked, this, &RoomForm::OnURLClicked);
    connect(ui->userList, &QTreeWidget::itemDoubleClicked, this,
            &RoomForm::OnUserItemDoubleClicked);
    connect(ui->userList, &QTreeWidget::itemClicked, this, &RoomForm::OnUserItemClicked);
    connect(ui->userList, &QTreeWidget::customContextMenuRequested, this,
            &RoomForm::OnUserListContextMenuRequested);

    // Users already in the room (a page made again after the store knew them).
    for (ItemPtr member : roomItem.GetItems(user))
        OnUserAdded(member);
    ItemPtr(d.GetType(formType)->GetItem(ViewAddress::Of(this))).Connect(roomItem);
}

RoomForm::~RoomForm()
{
    ViewAddress::Leave(this);
    RemoveDataHandlers();
    ItemPtr own = d.GetType(formType)->HasItem(ViewAddress::Of(this));
    if (!own.IsNull())
        own.Remove();
    // At the end of the run the connection may be gone before the pages.
    if (!leftRoom && gp_server)
        gp_server->LeaveRoom(room);
    delete ui;
}

void RoomForm::Init()
{
    if (sizeManager)
    {
        sizeManager->RegisterSplitter("room_splitter", ui->splitter, {});
        sizeManager->RegisterTreeWidget("room_user_list", ui->userList);
    }
    RegisterWidgetForTabFocus(ui->chatEdit, 1);
    ui->userList->setColumnWidth(markColumn, 20);
}

ItemPtr RoomForm::RoomItem() const
{
    return d.GetType(ServerTypes::room)->GetItem(Value(room));
}

QTreeWidgetItem* RoomForm::RowOf(ItemPtr userItem) const
{
    return rows.value(userItem.AsString(), nullptr);
}

void RoomForm::OnUserAdded(ItemPtr i_user)
{
    const QString name = i_user.AsString();
    if (rows.contains(name) || !i_user.IsConnected(countryCode) ||
        !i_user.IsConnected(sharedFileCount) || !i_user.IsConnected(averageDownloadSpeed))
        return;
    ItemPtr roomItem = RoomItem();
    if (!roomItem.IsConnected(i_user))
        return;
    auto* row = new QRoomUserListItemWidget;
    row->setText(nameColumn, name);
    ItemPtr owner = roomItem[roomOwner];
    const bool owns = !owner.IsNull() && owner.IsConnected(i_user);
    ItemPtr operators = roomItem[roomOperators];
    if (owns || (!operators.IsNull() && operators.IsConnected(i_user)))
    {
        QFont font = row->font(nameColumn);
        font.setWeight(QFont::Bold);
        font.setUnderline(owns);
        row->setFont(nameColumn, font);
    }
    const QString country = i_user[countryCode].AsString();
    if (!country.isEmpty())
        row->setIcon(flagColumn, QIcon(":/resources/flags/" + country.toLower() + ".png"));
    row->setData(flagColumn, Qt::UserRole, country);
    const long long files = i_user[sharedFileCount].AsInt64();
    row->setText(filesColumn, CommafyNumber(files));
    row->setData(filesColumn, Qt::UserRole, files);
    const long long speed = i_user[averageDownloadSpeed].AsInt64();
    if (speed / 1024.0 != 0)
        row->setText(speedColumn, QString("%1").arg(speed / 1024.0, 0, 'f', 1));
    row->setData(speedColumn, Qt::UserRole, speed);
    const bool hasNote = i_user.IsConnected(WindowTypes::userNote);
    if (hasNote)
        row->setIcon(noteColumn, QIcon(":/icons/note_icon"));
    row->setData(noteColumn, Qt::UserRole, hasNote);
    rows.insert(name, row);
    ui->userList->addTopLevelItem(row);
    ScheduleUserCount();
}

void RoomForm::OnUserRemoved(ItemPtr i_user)
{
    QTreeWidgetItem* row = rows.take(i_user.AsString());
    if (!row)
        return;
    delete row;
    ScheduleUserCount();
}

void RoomForm::ScheduleUserCount()
{
    if (userCountPending)
        return;
    userCountPending = true;
    QTimer::singleShot(0, this, &RoomForm::StoreUserCount);
}

void RoomForm::StoreUserCount()
{
    userCountPending = false;
    ItemPtr roomItem = RoomItem();
    const int count = int(roomItem.GetItems(user).Size());
    roomItem.Disconnect(userCount);
    roomItem.Connect(d.GetType(userCount)->GetItem(Value(count)));
}

void RoomForm::SetNameFont(QTreeWidgetItem* row, int weight, bool underline)
{
    QFont font = row->font(nameColumn);
    font.setWeight(weight);
    font.setUnderline(underline);
    row->setFont(nameColumn, font);
}

void RoomForm::OnOperatorAdded(ItemPtr i_user)
{
    if (QTreeWidgetItem* row = RowOf(i_user))
        SetNameFont(row, QFont::Bold, row->font(nameColumn).underline());
}

void RoomForm::OnOperatorRemoved(ItemPtr i_user)
{
    if (QTreeWidgetItem* row = RowOf(i_user))
        SetNameFont(row, QFont::Normal, row->font(nameColumn).underline());
}

void RoomForm::SetNoteMark(ItemPtr i_user, bool hasNote)
{
    QTreeWidgetItem* row = RowOf(i_user);
    if (!row)
        return;
    row->setIcon(noteColumn, hasNote ? QIcon(":/icons/note_icon") : QIcon());
    row->setData(noteColumn, Qt::UserRole, hasNote);
}

void RoomForm::OnUserNoteChanged(ItemPtr i_user)
{
    SetNoteMark(i_user, true);
}

void RoomForm::OnUserNoteRemoved(ItemPtr i_user)
{
    SetNoteMark(i_user, false);
}

void RoomForm::OnLeftRoom(ItemPtr)
{
    leftRoom = true;
    // Later: the store is still walking the change that called this handler.
    deleteLater();
    hide();
    RemoveDataHandlers();
    if (gp_server)
        disconnect(gp_server, nullptr, this, nullptr);
}

void RoomForm::SetActionTexts()
{
    ItemPtr roomItem = RoomItem();
    actionBar->SetWidgetActionText(this, "toggle_room_autojoin",
                                   roomItem.IsConnected(roomAutojoin) ? tr("Auto-Join [on]")
                                                                      : tr("Auto-Join [off]"));
    actionBar->SetWidgetActionText(this, "toggle_room_activity_alert",
                                   roomItem.IsConnected(activityAlert)
                                       ? tr("Activity Alert [on]")
                                       : tr("Activity Alert [off]"));
    const bool owner = roomItem.IsConnected(isOwner);
    actionBar->SetWidgetActionHidden(this, "give_up_membership",
                                     !(roomItem.IsConnected(isMember) && !owner));
    actionBar->SetWidgetActionHidden(this, "give_up_ownership", !owner);
}

void RoomForm::OnRoomAutojoinOn(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_autojoin", tr("Auto-Join [on]"));
}

void RoomForm::OnRoomAutojoinOff(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_autojoin", tr("Auto-Join [off]"));
}

void RoomForm::OnRoomActivityAlertOn(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_activity_alert",
                                       tr("Activity Alert [on]"));
}

void RoomForm::OnRoomActivityAlertOff(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_activity_alert",
                                       tr("Activity Alert [off]"));
}

void RoomForm::OnRoomChat(QString i_room, QString i_user, QString i_chat)
{
    if (i_room != room)
        return;
    const QString text = i_chat.trimmed();
    const QString action = ChatText::ActionOf(text);
    if (!action.isNull())
    {
        const QString line = i_user + " " + action;
        AddStatusMessage(line);
        LogChat(QString("[%1] * %2").arg(ChatText::LongTime(QDateTime::currentDateTime()), line));
        return;
    }
    AppendChatParagraph(OrdinaryParagraph(i_user, text));
    LogChat(
        QString("[%1][%2] %3").arg(ChatText::LongTime(QDateTime::currentDateTime()), i_user, text));
    if (RoomItem().IsConnected(activityAlert) && eventToolBar)
        eventToolBar->AddEvent(room, ":/icons/room_icon", ui->chatEdit, QString(), "room_chat",
                               false);
}

void RoomForm::LogChat(const QString& line)
{
    if (!ChatText::AppendToLog(ChatText::LogKind::Room, room, line))
        return;
    if (auto* viewer = ViewAddress::Find<ChatLogForm>(RoomItem()[WindowTypes::chatLogForm]))
        viewer->AddLine(line);
}

void RoomForm::OnEnterPressed()
{
    const QString text = ui->chatEdit->text();
    if (text.isEmpty())
        return;
    if (gp_server)
        gp_server->SendRoomChat(room, text);
    ui->chatEdit->clear();
}

void RoomForm::OnConnected()
{
    AddStatusMessage(
        tr("Reconnected at %1.").arg(ChatText::ShortTime(QDateTime::currentDateTime())));
    gp_server->EnterRoom(room, false);
}

void RoomForm::OnDisconnected()
{
    AddStatusMessage(
        tr("Disconnected at %1.").arg(ChatText::ShortTime(QDateTime::currentDateTime())));
}

void RoomForm::OnURLClicked(const QUrl& i_url)
{
    QDesktopServices::openUrl(i_url);
    ui->chatEdit->setFocus();
}

void RoomForm::OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    if (ip_item && chatsForm)
        chatsForm->OpenChatForm(ip_item->text(nameColumn));
}

void RoomForm::OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (!ip_item || i_column != noteColumn || !ViewHooks::userNote)
        return;
    const QString name = ip_item->text(nameColumn);
    ItemPtr userItem = d.GetType(user)->HasItem(Value(name));
    if (!userItem.IsNull() && userItem.IsConnected(WindowTypes::userNote))
        ViewHooks::userNote(name);
}

void RoomForm::OnUserListContextMenuRequested(const QPoint& i_point)
{
    QTreeWidgetItem* row = ui->userList->itemAt(i_point);
    if (!row)
        return;
    QMenu menu;
    UserMenuOptions options(&menu, row->text(nameColumn));
    menu.exec(ui->userList->viewport()->mapToGlobal(i_point));
}
