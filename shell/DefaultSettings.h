#pragma once

#include <QPalette>

// The settings the main window and the views rely on, given a first value before the saved
// store is loaded so that saved values replace them.
namespace DefaultSettings {
void WriteGeneral();
// The six palette colours of the start palette, the fixed colours and the chat-log switches.
void WriteColoursAndLogs(const QPalette& startPalette);
// Written after the load, whatever was loaded.
void WriteDataVersion();
// The start palette with the six saved palette colours set for all colour groups; a colour
// that does not parse is left as the start palette has it.
QPalette SavedPalette(const QPalette& startPalette);
} // namespace DefaultSettings
