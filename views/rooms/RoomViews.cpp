#include "RoomViews.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QSplitter>

#include "ChatForm.h"
#include "ChatsForm.h"
#include "MessageListForm.h"
#include "RoomsForm.h"
#include "SizeManager.h"
#include "ViewHooks.h"

namespace RoomViews {
namespace {
QPointer<RoomsForm> roomsForm;
QPointer<MessageListForm> messageListForm;
QPointer<QSplitter> chatSplitter;

void CreatePages(QWidget* roomsTab, QWidget* chatTab)
{
    roomsForm = new RoomsForm(roomsTab);
    roomsTab->layout()->addWidget(roomsForm);
    // The conversations above, and below them the list of everybody written with, latest first.
    chatSplitter = new QSplitter(Qt::Vertical, chatTab);
    chatSplitter->setChildrenCollapsible(false);
    chatSplitter->addWidget(new ChatsForm(chatSplitter));
    messageListForm = new MessageListForm(chatSplitter);
    chatSplitter->addWidget(messageListForm);
    chatSplitter->setStretchFactor(0, 3);
    chatSplitter->setStretchFactor(1, 1);
    chatTab->layout()->addWidget(chatSplitter);
}

void InitBeforeLoad()
{
    if (messageListForm)
        messageListForm->Init();
}

void InitRooms()
{
    if (roomsForm)
        roomsForm->Init();
}

void InitChats()
{
    if (chatsForm)
        chatsForm->Init();
    if (chatSplitter && sizeManager)
        sizeManager->RegisterSplitter("chat_splitter", chatSplitter, {300, 100});
}

void PrivateChat(const QString& user, const QString& text)
{
    if (chatsForm)
        chatsForm->GetChatForm(user)->AddChat(user, text);
}

void OpenChat(const QString& user)
{
    if (chatsForm)
        chatsForm->GetChatForm(user)->Focus();
}
} // namespace

void Install()
{
    ViewHooks::createPages = &CreatePages;
    ViewHooks::initBeforeLoad = &InitBeforeLoad;
    ViewHooks::initRooms = &InitRooms;
    ViewHooks::initChats = &InitChats;
    ViewHooks::privateChat = &PrivateChat;
    ViewHooks::openChat = &OpenChat;
}

RoomsForm* Rooms()
{
    return roomsForm;
}
} // namespace RoomViews
