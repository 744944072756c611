#pragma once

#include <memory>

#include <QApplication>
#include <QString>

class QLockFile;

// A QApplication that knows whether another instance with the same id already runs for the
// same user and home folder. The guard is a lock file, so a crashed run never blocks the next
// one: a lock whose process is gone counts as stale and is taken over.
class QtSingleApplication : public QApplication
{
    Q_OBJECT

public:
    QtSingleApplication(const QString& id, int& argc, char** argv);
    ~QtSingleApplication() override;

    // True when another live process holds the guard; this one then holds nothing.
    bool isRunning() const { return running; }
    QString id() const { return appId; }

private:
    QString appId;
    std::unique_ptr<QLockFile> lock;
    bool running = false;
};
