#pragma once

#include <QString>

// Opens a local file or folder, given with "\" or "/" separators, in the desktop's default
// application; what the desktop does with it is not reported.
void OpenLocalPath(QString path);
