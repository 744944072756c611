#include <QStyleFactory>

#include "Application.h"
#include "MainWindow.h"

int main(int argc, char** argv)
{
    Application application("VandrellQt", argc, argv);
    // Another instance for this user and home folder already runs.
    if (application.isRunning())
        return 0;
    if (QStyle* style = QStyleFactory::create("Plastique"))
        QApplication::setStyle(style);

    MainWindow window;
    window.show();
    window.Init();
    return application.exec();
}
