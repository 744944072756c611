#pragma once

#include "QtSingleApplication.h"

// The program's application object. When the desktop asks the session to commit its data
// (logout, session save) it only asks for the store to be written: no window is closed and the
// end of the session is never cancelled.
class Application : public QtSingleApplication
{
    Q_OBJECT

public:
    Application(const QString& id, int& argc, char** argv);

signals:
    // Emitted synchronously on each commit-data request; the main window saves the store.
    void SaveRequested();
};
