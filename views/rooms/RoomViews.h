#pragma once

class RoomsForm;

// Plugs the rooms and private chat pages into the main window; called once before the window
// is made.
namespace RoomViews {
void Install();
// The Rooms page, once the window has made it.
RoomsForm* Rooms();
} // namespace RoomViews
