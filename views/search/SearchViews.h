#pragma once

// Plugs the Search and Browse pages into the main window; called once before the window is made.
namespace SearchViews {
void Install();
} // namespace SearchViews
