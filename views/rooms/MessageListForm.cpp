#include "MessageListForm.h"

#include <algorithm>
#include <list>
#include <unordered_set>
#include <vector>

#include <QDateTime>
#include <QHeaderView>

#include "ChatText.h"
#include "Data.h"
#include "DataSaver.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "ui_MessageListForm.h"

namespace {
const char* const privateMessage = "private_message";
const char* const privateMessageTime = "private_message_time";
const char* const privateMessageText = "private_message_text";
const char* const privateMessageDirection = "private_message_direction";
const char* const messageListNode = "message_list_node";
const char* const received = "from";
const char* const sent = "to";
} // namespace

MessageListForm::MessageListForm(QWidget* parent) : QWidget(parent), ui(new Ui_MessageListForm)
{
    ui->setupUi(this);
    ui->messageList->setColumnCount(3);
    ui->messageList->setHeaderLabels({QString(), tr("User"), QString()});
    ui->horizontalLayout->setContentsMargins(0, 0, 0, 0);
    // Wide enough for the longest time, whatever the font.
    const int timeWidth = ui->messageList->fontMetrics().horizontalAdvance("Sep 30 12:59:59 pm");
    ui->messageList->setColumnWidth(timeColumn, std::max(150, timeWidth + 24));
    ui->messageList->setColumnWidth(userColumn, 200);
    ui->messageList->header()->setStretchLastSection(true);
    ui->messageList->header()->setSectionsMovable(false);
}

MessageListForm::~MessageListForm()
{
    delete ui;
}

void MessageListForm::Init()
{
    Type* messages = d.NewType(privateMessage, PrimacyRoot, true, true);
    Type* times = d.NewType(privateMessageTime, PrimacyLeaf, false, true);
    Type* texts = d.NewType(privateMessageText, PrimacyLeaf, false, true);
    Type* directions = d.NewType(privateMessageDirection, PrimacyLeaf, false, true);
    Type* nodes = d.NewType(messageListNode, PrimacyRoot, false, true);
    Type* users = d.GetType(ServerTypes::user);
    for (Type* attribute : {times, texts, directions, users})
        messages->RelateToType(attribute, Many, One, false);
    users->RelateToType(nodes, One, One, false);
    if (dataSaver)
    {
        dataSaver->AddSavedType(privateMessage);
        dataSaver->AddSavedByConnectionType(privateMessageTime, privateMessage);
        dataSaver->AddSavedByConnectionType(privateMessageText, privateMessage);
        dataSaver->AddSavedType(privateMessageDirection);
        dataSaver->AddSavedByConnectionType(ServerTypes::user, privateMessage);
        dataSaver->AddDataLoadedEventHandler(this);
    }
    if (gp_server)
    {
        connect(gp_server, &Server::PrivateChat, this, &MessageListForm::OnPrivateChat);
        connect(gp_server, &Server::PrivateChatSent, this, &MessageListForm::OnPrivateChatSent);
    }
}

void MessageListForm::DataLoaded()
{
    const std::list<ItemPtr> byTime = g(privateMessage).SortNumericBy(privateMessageTime, true);
    // Only each user's latest message decides the row, so the rest need no row moves.
    std::vector<ItemPtr> latest;
    std::unordered_set<ItemPtr> seenUsers;
    for (auto message = byTime.rbegin(); message != byTime.rend(); ++message)
        if (seenUsers.insert((*message)[ServerTypes::user]).second)
            latest.push_back(*message);
    for (auto message = latest.rbegin(); message != latest.rend(); ++message)
        AddMessageToList(*message);
}

void MessageListForm::OnPrivateChat(QString i_user, QString i_chat, time_t i_time, bool)
{
    RecordMessage(i_user, i_chat, static_cast<long long>(i_time), received);
}

void MessageListForm::OnPrivateChatSent(QString i_user, QString i_chat)
{
    RecordMessage(i_user, i_chat, QDateTime::currentSecsSinceEpoch(), sent);
}

void MessageListForm::RecordMessage(const QString& user, const QString& text, long long time,
                                    const char* direction)
{
    ItemPtr message = d.GetType(privateMessage)->NewItem();
    message += d.GetType(ServerTypes::user)->GetItem(Value(user));
    message += d.GetType(privateMessageTime)->GetItem(Value(time));
    message += d.GetType(privateMessageText)->GetItem(Value(text));
    message += d.GetType(privateMessageDirection)->GetItem(Value(direction));
    AddMessageToList(message);
}

void MessageListForm::AddMessageToList(ItemPtr message)
{
    ItemPtr user = message[ServerTypes::user];
    if (user.IsNull())
        return;
    const QString name = user.AsString();
    // A node left by another list, or by rows cleared since, names no row of this list, or a
    // row that reuses the address for somebody else.
    auto* row = user[messageListNode].AsPointer<QTreeWidgetItem>();
    const int index = row ? ui->messageList->indexOfTopLevelItem(row) : -1;
    if (index < 0 || row->text(userColumn) != name)
    {
        row = new QTreeWidgetItem;
        row->setText(userColumn, name);
        user += d.GetType(messageListNode)->GetItem(Value(row));
        if (gp_server)
            gp_server->TrackUser(name);
    }
    else
        ui->messageList->takeTopLevelItem(index);
    ui->messageList->insertTopLevelItem(0, row);

    const QDateTime time = QDateTime::fromSecsSinceEpoch(message[privateMessageTime].AsInt64());
    row->setText(timeColumn, ChatText::LongTime(time));
    const QString sender = message[privateMessageDirection].AsString() == received
                               ? name
                               : Settings::GetText(ServerSettings::username);
    row->setText(messageColumn,
                 QString("[%1] ").arg(sender) + message[privateMessageText].AsString());
}
