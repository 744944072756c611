#include "QtSingleApplication.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace {
// One guard per id, user and home folder: the runtime folder is the user's own, and the hash
// tells home folders apart (two homes mean two separate stores, so both may run).
QString LockFilePath(const QString& id)
{
    QString home = QDir(QDir::homePath()).canonicalPath();
    if (home.isEmpty())
        home = QDir::homePath();
    const QByteArray homeHash =
        QCryptographicHash::hash(home.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    QString name;
    for (const QChar c : id)
        name += c.isLetterOrNumber() ? c : QChar('_');
    name += '-' + QString::fromLatin1(homeHash) + ".lock";

    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    return QDir(folder).filePath(name);
}
} // namespace

QtSingleApplication::QtSingleApplication(const QString& id, int& argc, char** argv)
    : QApplication(argc, argv), appId(id), lock(new QLockFile(LockFilePath(id)))
{
    // Age alone never makes a lock stale: a run may last for weeks. Only a dead owner does.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return;
    // A lock that cannot be written at all must not keep the program from starting.
    running = lock->error() == QLockFile::LockFailedError;
}

QtSingleApplication::~QtSingleApplication() = default;
