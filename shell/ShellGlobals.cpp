#include "ShellGlobals.h"

#include "UpdateChecker.h"

MainWindow* mainWindow = nullptr;
bool g_showIsOver = false;
QPalette defaultPalette;
const qint64 g_currentVersion = UpdateChecker::currentVersion;
