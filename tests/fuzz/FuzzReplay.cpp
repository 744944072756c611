// Runs a fuzz target once over each file named, and over each file of each folder named, in
// name order: the builds without libFuzzer replay the seeds this way.

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "FuzzTarget.h"

namespace {
QStringList InputFiles(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isDir())
        return {path};
    QStringList files;
    const QDir folder(path);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden, QDir::Name))
        files << folder.filePath(name);
    return files;
}
} // namespace

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    int replayed = 0;
    for (int index = 1; index < argc; ++index)
    {
        for (const QString& path : InputFiles(QString::fromLocal8Bit(argv[index])))
        {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
            {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
                return 1;
            }
            const QByteArray bytes = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                   static_cast<size_t>(bytes.size()));
            ++replayed;
        }
    }
    std::printf("%d inputs replayed\n", replayed);
    // Nothing to replay means the seeds were never written: that must not pass.
    return replayed > 0 ? 0 : 1;
}
