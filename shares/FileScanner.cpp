#include "FileScanner.h"

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

#include "MP3FrameScanner.h"

void FileScanner::Quit()
{
    QMutexLocker lock(&mutex);
    quit = true;
}

bool FileScanner::IsQuitting()
{
    QMutexLocker lock(&mutex);
    return quit;
}

bool FileScanner::IsUnderRoot(const QString& root, const QString& folder)
{
    return folder.startsWith(root, Qt::CaseSensitive);
}

bool FileScanner::IsMP3Name(const QString& name)
{
    return name.size() > 4 && name.endsWith(".mp3", Qt::CaseInsensitive);
}

void FileScanner::ScanFolders(QStringList roots)
{
    std::set<QString> visited;
    for (const QString& root : roots)
        ScanFolder(root, root, visited);
    emit FoldersScanned();
}

void FileScanner::ScanFolder(const QString& root, const QString& folder, std::set<QString>& visited)
{
    if (IsQuitting() || !IsUnderRoot(root, folder))
        return;
    if (!visited.insert(folder).second)
        return;
    const QFileInfoList entries =
        QDir(folder, QString(), QDir::Name | QDir::IgnoreCase, QDir::Filters(listingFilter))
            .entryInfoList();
    ++listedFolders;
    FolderFiles& files = scanResults[root][folder];
    for (const QFileInfo& entry : entries)
    {
        if (entry.isFile())
            files.push_back({entry.fileName(), entry.size()});
        else if (entry.isDir())
            ScanFolder(root, entry.absoluteFilePath(), visited);
    }
    // The listing sorts without case; the merge reads names in their exact order.
    std::sort(files.begin(), files.end(), [](const ListedFile& left, const ListedFile& right) {
        return left.name < right.name;
    });
    files.shrink_to_fit();
}

void FileScanner::OnMP3ScanRequired(QString path)
{
    int mpegVersion = 0;
    QString channelMode;
    int frequency = 0;
    bool vbr = false;
    int bitrate = -1;
    if (ScanMP3(path, mpegVersion, channelMode, frequency, vbr, bitrate))
        emit MP3Scanned(path, mpegVersion, channelMode, frequency, vbr, bitrate);
}

bool FileScanner::ScanMP3(const QString& path, int& mpegVersion, QString& channelMode,
                          int& frequency, bool& vbr, int& bitrate)
{
    if (IsQuitting())
        return false;
    return MP3FrameScanner::ScanMP3(path, mpegVersion, channelMode, frequency, vbr, bitrate);
}
