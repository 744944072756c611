#include "ShellGlobals.h"

MainWindow* mainWindow = nullptr;
bool g_showIsOver = false;
QPalette defaultPalette;
const qint64 g_currentVersion = 20130212;
