#pragma once

// Plugs the Search page into the main window; called once before the window is made.
namespace SearchViews {
void Install();
} // namespace SearchViews
