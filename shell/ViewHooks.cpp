#include "ViewHooks.h"

namespace ViewHooks {
void (*createPages)(QWidget*, QWidget*) = nullptr;
void (*initBeforeLoad)() = nullptr;
void (*initRooms)() = nullptr;
void (*initChats)() = nullptr;
void (*privateChat)(const QString&, const QString&) = nullptr;
void (*openChat)(const QString&) = nullptr;
} // namespace ViewHooks
