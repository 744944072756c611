#pragma once

#include <QString>

class QWidget;

// The views of the rooms and the private chats live in a library built after the shell; they
// plug into the main window here, so that the shell never names them. Each hook may stay null,
// and the window then leaves that page empty.
namespace ViewHooks {
// Builds the pages of the Rooms and Chat tabs; called by the window's constructor.
extern void (*createPages)(QWidget* roomsTab, QWidget* chatTab);
// The pages' own start-up, at their places in the window's Init; the first runs just before the
// saved store is loaded.
extern void (*initBeforeLoad)();
extern void (*initRooms)();
extern void (*initChats)();
// A private message arrived (user, text).
extern void (*privateChat)(const QString& user, const QString& text);
// Opens and focuses the private chat with the user.
extern void (*openChat)(const QString& user);
} // namespace ViewHooks
