#include "MainWindow.h"

#include "ActionSetToolBar.h"
#include "EventToolBar.h"
#include "WindowTypes.h"

namespace {
// Owned by the chat log view and the private chat view when they register.
const ActionSetToolBar::SetAction chatToolBarActions[] = {
    {"chat_log", "clear_chat_log", "Clear Log", ":/icons/empty_note_icon"},
    {"chat_log", "open_log_folder", "Open Log Folder", ":/icons/browse_icon"},
    {"user_chat", "user_chat_log", "Chat Log", ":/icons/note_icon"},
};
} // namespace

void MainWindow::CreateEventToolBar()
{
    auto* bar = new EventToolBar(nullptr);
    bar->SetWindowCalls({[this](const QString& path) { SetApplicationIcon(path); },
                         [this] { ResetApplicationIcon(); },
                         [this](const QString& text) { PopupAlert(text); }});
    // A row of its own, below the context tool bar.
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, bar);
}

void MainWindow::DeclareChatLogFormAndSets()
{
    WindowTypes::DeclareChatLogForm();
    for (const ActionSetToolBar::SetAction& action : chatToolBarActions)
        actionBar->AddSetAction(action);
}
