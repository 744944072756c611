#include "ViewHooks.h"

namespace ViewHooks {
void (*createPages)(QWidget*, QWidget*) = nullptr;
void (*initBeforeLoad)() = nullptr;
void (*initRooms)() = nullptr;
void (*initChats)() = nullptr;
void (*privateChat)(const QString&, const QString&) = nullptr;
void (*openChat)(const QString&) = nullptr;
void (*createUsersPage)(QWidget*) = nullptr;
void (*initUserList)() = nullptr;
void (*initUserNotes)() = nullptr;
QWidget* (*userInfo)(const QString&) = nullptr;
void (*userGroups)(const QString&) = nullptr;
void (*userNote)(const QString&) = nullptr;
void (*browseUser)(const QString&) = nullptr;
void (*uploadToUser)(const QString&) = nullptr;
void (*createSearchPage)(QWidget*) = nullptr;
void (*initSearch)() = nullptr;
QDialog* (*shareFolder)(ItemPtr, QWidget*) = nullptr;
QDialog* (*editExcludedExtensions)(QWidget*) = nullptr;
QDialog* (*reportRescan)(const QStringList&, QWidget*) = nullptr;
void (*createBrowsePage)(QWidget*) = nullptr;
void (*initBrowse)() = nullptr;
void (*createTransfersPage)(QWidget*) = nullptr;
void (*initTransfers)() = nullptr;
void (*recolorTransfers)() = nullptr;
void (*finishTransferRemovals)() = nullptr;
} // namespace ViewHooks
