#include "Application.h"

Application::Application(const QString& id, int& argc, char** argv)
    : QtSingleApplication(id, argc, argv)
{
    // Otherwise Qt closes every window after the request, and a window that refuses cancels the
    // logout.
    setFallbackSessionManagementEnabled(false);
    connect(this, &QGuiApplication::commitDataRequest, this, &Application::SaveRequested);
}
