#include "RoomViews.h"

#include <QHBoxLayout>
#include <QPointer>

#include "ChatForm.h"
#include "ChatsForm.h"
#include "RoomsForm.h"
#include "ViewHooks.h"

namespace RoomViews {
namespace {
QPointer<RoomsForm> roomsForm;

void CreatePages(QWidget* roomsTab, QWidget* chatTab)
{
    roomsForm = new RoomsForm(roomsTab);
    roomsTab->layout()->addWidget(roomsForm);
    chatTab->layout()->addWidget(new ChatsForm(chatTab));
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
