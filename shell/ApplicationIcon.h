#pragma once

class QString;

// Shows the icon at that resource path as the application's icon, on the main window and in
// the tray.
void SetApplicationIcon(const QString& path);
