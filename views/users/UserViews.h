#pragma once

class UserListForm;

// Plugs the Users page, its dialogs and the user information into the main window and the
// per-user menu; called once before the window is made.
namespace UserViews {
void Install();
} // namespace UserViews
