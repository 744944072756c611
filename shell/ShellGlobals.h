#pragma once

#include <QPalette>
#include <QtGlobal>

class MainWindow;

// The one main window; set by its constructor.
extern MainWindow* mainWindow;
// Set once the run has ended (after the final save): no more saves, the tool bars stop reacting.
extern bool g_showIsOver;
// The application palette as the style gave it at start, for resetting colours.
extern QPalette defaultPalette;
// The build number.
extern const qint64 g_currentVersion;
