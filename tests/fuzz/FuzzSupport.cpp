#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "Data.h"
#include "MemStream.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "ServerTypes.h"
#include "Settings.h"

namespace {
const char* const seedOption = "--write-seeds=";

// Inputs make the code warn on purpose (a write to a socket that is not open, say); a line per
// input would drown the fuzzer's own report and slow it down.
void DropQtMessages(QtMsgType, const QMessageLogContext&, const QString&)
{}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int WriteSeeds(const QString& folder)
{
    QDir(folder).removeRecursively();
    const QDir root(folder);
    if (!root.mkpath("seeds") || !root.mkpath("corpus"))
        return 1;
    const std::vector<QByteArray> seeds = FuzzTarget::Seeds();
    for (size_t index = 0; index < seeds.size(); ++index)
    {
        const QString name = QString("seeds/seed-%1").arg(index, 3, 10, QChar('0'));
        if (!WriteFile(root.filePath(name), seeds[index]))
            return 1;
    }
    std::printf("%zu seeds written to %s/seeds\n", seeds.size(), qPrintable(folder));
    return seeds.empty() ? 1 : 0;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qInstallMessageHandler(DropQtMessages);
    // Kept for the whole run; Qt gets no options of the fuzzer's command line.
    static int applicationArgc = 1;
    static char* applicationArgv[] = {(*argv)[0], nullptr};
    static QCoreApplication* application = new QCoreApplication(applicationArgc, applicationArgv);
    Q_UNUSED(application);

    if (*argc > 1 && std::strncmp((*argv)[1], seedOption, std::strlen(seedOption)) == 0)
        std::exit(WriteSeeds(QString::fromLocal8Bit((*argv)[1] + std::strlen(seedOption))));
    return 0;
}

namespace FuzzTarget {
Server& DeclaredServer()
{
    static Server* server = [] {
        auto* made = new Server;
        ServerTestSetup::DeclareTypes(*made);
        return made;
    }();
    return *server;
}

void ForEachFramed(const uint8_t* data, size_t size, uint32_t limit,
                   const std::function<bool(MemStream&)>& take)
{
    size_t at = 0;
    while (size - at >= 4)
    {
        const uint32_t length = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 |
                                uint32_t(data[at + 2]) << 16 | uint32_t(data[at + 3]) << 24;
        at += 4;
        if (length > limit || length > size - at)
            return;
        MemStream body;
        body.WriteBuffer(data + at, length);
        at += length;
        if (!take(body))
            return;
    }
}

void ResetStore()
{
    ServerTestSetup::ResetStore();
    Settings::Set(ServerSettings::useUpnp, "no");
}

QString TemporaryFolder()
{
    static QTemporaryDir folder;
    return folder.path();
}

QString WriteTemporaryFile(const QString& name, const uint8_t* data, size_t size)
{
    const QString path = QDir(TemporaryFolder()).filePath(name);
    WriteFile(path, QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size)));
    return path;
}

void EmptyTemporaryFolder()
{
    QDir folder(TemporaryFolder());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden))
        folder.remove(name);
}
} // namespace FuzzTarget
