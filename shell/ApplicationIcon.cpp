#include "ApplicationIcon.h"

#include <QApplication>
#include <QIcon>
#include <QString>

#include "MainWindow.h"

void SetApplicationIcon(const QString& path)
{
    if (mainWindow)
        mainWindow->SetApplicationIcon(path);
    else
        QApplication::setWindowIcon(QIcon(path));
}
