#pragma once

// Plugs the Transfers page into the main window; called once before the window is made.
namespace TransfersViews {
void Install();
} // namespace TransfersViews
