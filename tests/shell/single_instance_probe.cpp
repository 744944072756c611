// Usage: single_instance_probe <id> [hold]
// Prints "running" (exit 1) when another instance holds the guard, else "alone" (exit 0). With
// "hold", an instance that got the guard keeps it until its standard input closes.
#include <cstdio>

#include "QtSingleApplication.h"

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const QString id = QString::fromLocal8Bit(argv[1]);
    const bool hold = argc > 2 && qstrcmp(argv[2], "hold") == 0;
    QtSingleApplication app(id, argc, argv);
    std::puts(app.isRunning() ? "running" : "alone");
    std::fflush(stdout);
    if (hold && !app.isRunning())
        while (std::getchar() != EOF)
        {}
    return app.isRunning() ? 1 : 0;
}
