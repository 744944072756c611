#include "ChatsForm.h"

#include "ChatForm.h"
#include "Data.h"
#include "Server.h"
#include "ServerTypes.h"
#include "TabFocus.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "ui_ChatsForm.h"

ChatsForm* chatsForm = nullptr;

ChatsForm::ChatsForm(QWidget* parent) : QWidget(parent), ui(new Ui_ChatsForm)
{
    chatsForm = this;
    ui->setupUi(this);
    ui->horizontalLayout->setContentsMargins(0, 0, 0, 0);
    connect(ui->chatTabControl, &QTabWidget::tabCloseRequested, this, &ChatsForm::OnChatTabClosed);
}

ChatsForm::~ChatsForm()
{
    if (chatsForm == this)
        chatsForm = nullptr;
    delete ui;
}

void ChatsForm::Init()
{
    auto* online = new PathNode(&d, ServerTypes::user);
    new PathNode(online, ServerTypes::isOnline, PathOnConnect);
    d.AddPathHandler(online, this, &ChatsForm::OnUserOnline);
    auto* offline = new PathNode(&d, ServerTypes::user);
    new PathNode(offline, ServerTypes::isOnline, PathAbsent);
    d.AddPathHandler(offline, this, &ChatsForm::OnUserOffline);
}

void ChatsForm::SetTabIcon(ItemPtr user, const char* icon)
{
    auto* form = ViewAddress::Find<ChatForm>(user[WindowTypes::userChatWidget]);
    const int index = form ? ui->chatTabControl->indexOf(form) : -1;
    if (index >= 0)
        ui->chatTabControl->setTabIcon(index, QIcon(icon));
}

void ChatsForm::OnUserOnline(ItemPtr i_user)
{
    SetTabIcon(i_user, ":/icons/online_icon");
}

void ChatsForm::OnUserOffline(ItemPtr i_user)
{
    SetTabIcon(i_user, ":/icons/offline_icon");
}

ChatForm* ChatsForm::GetChatForm(const QString& user)
{
    ItemPtr userItem = d.GetType(ServerTypes::user)->GetItem(Value(user));
    if (auto* existing = ViewAddress::Find<ChatForm>(userItem[WindowTypes::userChatWidget]))
        return existing;
    auto* form = new ChatForm(user, ui->chatTabControl, this);
    const char* icon = userItem.IsConnected(ServerTypes::isOnline) ? ":/icons/online_icon"
                                                                   : ":/icons/offline_icon";
    ui->chatTabControl->addTab(form, QIcon(icon), user);
    if (gp_server)
        gp_server->TrackUser(user);
    return form;
}

void ChatsForm::OpenChatForm(const QString& user)
{
    FocusWidgetAndParents(GetChatForm(user));
}

void ChatsForm::OnChatTabClosed(int i_index)
{
    delete ui->chatTabControl->widget(i_index);
}
