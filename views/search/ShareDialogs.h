#pragma once

// Plugs the shared-folder, excluded-extension and rescan dialogs into the main window.
namespace ShareDialogs {
void Install();
} // namespace ShareDialogs
