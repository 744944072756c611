#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QStringList>

#include "Data.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"

// The shares manager over the test store, with a server connection and a messenger.
namespace SharesTestSetup {
inline SharedFoldersManager* Build(Server*& server, PeerMessenger*& messenger)
{
    MessengerTestSetup::Build(server, messenger);
    return new SharedFoldersManager;
}

// Base of the shares tests: Build() in initTestCase, Destroy() in cleanupTestCase.
class Fixture : public QObject
{
protected:
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    SharedFoldersManager* shares = nullptr;

    void Build() { shares = SharesTestSetup::Build(server, messenger); }
    void Destroy()
    {
        delete shares;
        delete messenger;
        delete server;
    }
};

// Forgets every root, folder, file and token, so that each test starts from an empty share.
inline void ForgetShares()
{
    using namespace SharesTypes;
    for (const char* type : {sharedFolder, sharedFile, sharedFileFolder, sharedFileName,
                             sharedFileSize, searchToken, sharedFolderId})
        d.GetType(type)->RemoveAllItems();
}

// Writes the file with the bytes, making its folders.
inline bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(path.section('/', 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every shared file as "folder/name size", sorted.
inline QStringList SharedFiles()
{
    using namespace SharesTypes;
    QStringList files;
    for (ItemPtr file : g(sharedFile))
        files << QString("%1/%2 %3")
                     .arg(file[sharedFileFolder].AsString(), file[sharedFileName].AsString(),
                          file[sharedFileSize].AsString());
    files.sort();
    return files;
}
} // namespace SharesTestSetup
