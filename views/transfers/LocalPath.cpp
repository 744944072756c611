#include "LocalPath.h"

#include <QDesktopServices>
#include <QUrl>

void OpenLocalPath(QString path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path.replace('\\', '/')));
}
