#pragma once

#include <QString>
#include <QStringList>

#include "ItemPtr.h"

class QDialog;
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

// The user views: the Users page, its start-up before and after the load, and the windows the
// per-user menu opens. The returned widget is the user's information page.
extern void (*createUsersPage)(QWidget* usersTab);
extern void (*initUserList)();
extern void (*initUserNotes)();
extern QWidget* (*userInfo)(const QString& user);
extern void (*userGroups)(const QString& user);
extern void (*userNote)(const QString& user);
// Browsing a user's files and pushing files to a user; the menu offers them once set.
extern void (*browseUser)(const QString& user);
extern void (*uploadToUser)(const QString& user);

// The Search page: built by the window's constructor, set up before the saved store is loaded.
extern void (*createSearchPage)(QWidget* searchTab);
extern void (*initSearch)();

// The share dialogs, made with the given parent and left for the window to show: adding a shared
// folder (null item) or editing one's audience; the one editor of the excluded download endings
// (the open one when there is one); the report of a rescan, one line per fact.
extern QDialog* (*shareFolder)(ItemPtr folder, QWidget* parent);
extern QDialog* (*editExcludedExtensions)(QWidget* parent);
extern QDialog* (*reportRescan)(const QStringList& lines, QWidget* parent);
// The Browse page: built by the window's constructor, set up before the saved store is loaded.
extern void (*createBrowsePage)(QWidget* browseTab);
extern void (*initBrowse)();
// The Transfers page: built by the window's constructor, set up after the transfer engine and
// the tool bar exist and before the saved store is loaded; recoloured when the colours change.
extern void (*createTransfersPage)(QWidget* transfersTab);
extern void (*initTransfers)();
extern void (*recolorTransfers)();
// Makes the removals of transfers still under way; the window calls it before each save of the
// store, so also on closing while the transfer engine still runs.
extern void (*finishTransferRemovals)();
} // namespace ViewHooks
