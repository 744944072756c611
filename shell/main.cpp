#include <QStyleFactory>

#include "Application.h"
#include "MainWindow.h"
#include "RoomViews.h"
#include "SearchViews.h"
#include "TransfersViews.h"
#include "UserViews.h"

int main(int argc, char** argv)
{
    Application application("VandrellQt", argc, argv);
    // Another instance for this user and home folder already runs.
    if (application.isRunning())
        return 0;
    if (QStyle* style = QStyleFactory::create("Plastique"))
        QApplication::setStyle(style);

    RoomViews::Install();
    UserViews::Install();
    SearchViews::Install();
    TransfersViews::Install();
    MainWindow window;
    // The desktop's session save at logout writes the store and closes nothing.
    QObject::connect(&application, &Application::SaveRequested, &window, &MainWindow::SaveData);
    window.show();
    window.Init();
    return application.exec();
}
