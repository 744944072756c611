#pragma once

class QString;

// Shows the icon at that resource path as the application's icon and on every main window.
void SetApplicationIcon(const QString& path);
