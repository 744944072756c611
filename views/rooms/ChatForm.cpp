#include "ChatForm.h"

#include <QDesktopServices>
#include <QMenu>
#include <QTabWidget>
#include <QUrl>

#include "ActionSetToolBar.h"
#include "ChatLogForm.h"
#include "ChatText.h"
#include "Data.h"
#include "EventToolBar.h"
#include "FocusWidget.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "TabFocus.h"
#include "UserMenuOptions.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "ui_ChatForm.h"

namespace {
const char* const emptyShareWarning = "sent_empty_share_warning_message";
} // namespace

ChatForm::ChatForm(const QString& user, QTabWidget* tabWidget, QWidget* parent)
    : ChatView(parent, false), ui(new Ui_ChatForm), user(user), tabWidget(tabWidget)
{
    ViewAddress::Enter(this);
    ui->setupUi(this);
    SetChatView(ui->chatView);
    ItemPtr userItem = UserItem();
    userItem.Connect(d.GetType(WindowTypes::userChatWidget)->GetItem(ViewAddress::Of(this)));
    RegisterWidgetForTabFocus(ui->chatEdit, 1);
    if (actionBar)
    {
        actionBar->RegisterWidget(this, "user_chat");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatForm::OnActionTriggered);
    }
    // The transfer engine declares the type; without it no warning was ever sent.
    if (d.HasType(emptyShareWarning))
    {
        ItemPtr warning = userItem[emptyShareWarning];
        if (!warning.IsNull())
            AddChat(Settings::GetText("username"), warning.AsString());
    }

    auto* away = new PathNode(userItem);
    new PathNode(away, ServerTypes::isAway, PathOnConnect);
    d.AddPathHandler(away, this, &ChatForm::OnUserAway);
    auto* back = new PathNode(userItem);
    new PathNode(back, ServerTypes::isAway, PathOnDisconnect);
    d.AddPathHandler(back, this, &ChatForm::OnUserAvailable);
    if (userItem.IsConnected(ServerTypes::isAway))
        OnUserAway(userItem);

    connect(ui->chatEdit, &QLineEdit::returnPressed, this, &ChatForm::OnEnter);
    connect(ui->chatView, &QTextBrowser::anchorClicked, this, &ChatForm::OnURLClicked);
    connect(ui->chatView, &QWidget::customContextMenuRequested, this,
            &ChatForm::OnContextMenuRequested);
}

ChatForm::~ChatForm()
{
    ViewAddress::Leave(this);
    ItemPtr own = d.GetType(WindowTypes::userChatWidget)->HasItem(ViewAddress::Of(this));
    if (!own.IsNull())
        own.Remove();
    delete ui;
}

ItemPtr ChatForm::UserItem() const
{
    return d.GetType(ServerTypes::user)->GetItem(Value(user));
}

QString ChatForm::TrayText(const QString& sender, const QString& text)
{
    QString shown = text.left(trayTextLength);
    if (text.size() > trayTextLength)
        shown += " ...";
    return QString("[%1] %2").arg(sender, shown);
}

void ChatForm::AddChat(const QString& sender, const QString& text)
{
    const QString action = ChatText::ActionOf(text.trimmed());
    if (!action.isNull())
    {
        const QString line = sender + " " + action;
        AddStatusMessage(line);
        LogChat(QString("[%1] * %2").arg(ChatText::LongTime(QDateTime::currentDateTime()), line));
        return;
    }
    AppendChatParagraph(OrdinaryParagraph(sender, text));
    LogChat(
        QString("[%1][%2] %3").arg(ChatText::LongTime(QDateTime::currentDateTime()), sender, text));
    if (eventToolBar)
        eventToolBar->AddEvent(user, ":/icons/chat_icon", ui->chatEdit, TrayText(sender, text),
                               "private_chat", false);
}

void ChatForm::LogChat(const QString& line)
{
    if (!ChatText::AppendToLog(ChatText::LogKind::User, user, line))
        return;
    if (auto* viewer = ViewAddress::Find<ChatLogForm>(UserItem()[WindowTypes::chatLogForm]))
        viewer->AddLine(line);
}

void ChatForm::Focus()
{
    FocusWidget(ui->chatEdit);
}

void ChatForm::OnUserAway(ItemPtr)
{
    AddStatusMessage(user + tr(" is away."));
}

void ChatForm::OnUserAvailable(ItemPtr)
{
    AddStatusMessage(user + tr(" is available."));
}

void ChatForm::OnEnter()
{
    const QString text = ui->chatEdit->text();
    if (text.isEmpty())
        return;
    // The connection drops what it cannot send: the line is neither shown nor logged as sent,
    // and stays in the input to be sent again.
    if (!gp_server || !gp_server->IsConnected())
    {
        AddStatusMessage(tr("Not sent: you are not logged in to the server."));
        return;
    }
    AddChat(Settings::GetText("username"), text);
    gp_server->SendPrivateChat(user, text);
    ui->chatEdit->clear();
}

void ChatForm::OnContextMenuRequested(const QPoint& i_point)
{
    QMenu menu;
    UserMenuOptions options(&menu, user);
    menu.exec(ui->chatView->viewport()->mapToGlobal(i_point));
}

void ChatForm::OnURLClicked(const QUrl& i_url)
{
    QDesktopServices::openUrl(i_url);
    ui->chatEdit->setFocus();
}

void ChatForm::OnActionTriggered(QWidget* ip_widget, QString i_action)
{
    if (ip_widget != this || i_action != "user_chat_log")
        return;
    ItemPtr userItem = UserItem();
    auto* viewer = ViewAddress::Find<ChatLogForm>(userItem[WindowTypes::chatLogForm]);
    if (!viewer)
    {
        viewer = new ChatLogForm(ChatText::LogPath(ChatText::LogKind::User, user), this);
        tabWidget->addTab(viewer, QIcon(":/icons/note_icon"), user);
        userItem.Connect(d.GetType(WindowTypes::chatLogForm)->GetItem(ViewAddress::Of(viewer)));
    }
    FocusWidgetAndParents(viewer);
}

void ChatForm::showEvent(QShowEvent* event)
{
    ChatView::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(ui->chatEdit);
}
