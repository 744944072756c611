#include "ApplicationIcon.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QString>

void SetApplicationIcon(const QString& path)
{
    const QIcon icon(path);
    QApplication::setWindowIcon(icon);
    // A window given an icon of its own does not follow the application's.
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* main = qobject_cast<QMainWindow*>(window))
            main->setWindowIcon(icon);
}
