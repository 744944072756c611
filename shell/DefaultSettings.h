#pragma once

#include <QPalette>
#include <QString>
#include <QVector>

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

// The colour settings, each group in the order it is stored: six roles of the application
// palette, whose defaults come from the start palette, and eight colours with fixed defaults.
struct PaletteColour
{
    QString key;
    QPalette::ColorRole role;
};
struct FixedColour
{
    QString key;
    QString colour;
};
QVector<PaletteColour> PaletteColours();
QVector<FixedColour> FixedColours();
} // namespace DefaultSettings
