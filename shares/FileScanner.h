#pragma once

#include <atomic>
#include <map>
#include <set>
#include <vector>

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

// The shares manager's worker on its own thread: lists the shared roots into memory for the
// start-up merge, and scans MP3 files for their frames. It never touches the item store; it
// reports by signals that reach the GUI thread queued.
class FileScanner : public QObject
{
    Q_OBJECT

public:
    // A file as the walk found it: only what the merge reads, since a walk of a large share
    // holds one per file until the merge is done.
    struct ListedFile
    {
        QString name;
        qint64 size = 0;
    };
    // A folder's files in the order of their names (QString's order, case counting).
    using FolderFiles = std::vector<ListedFile>;
    // Root path, then folder path.
    using RootFolders = std::map<QString, FolderFiles>;
    using ScanResults = std::map<QString, RootFolders>;

    // Every listing of a walk: folders and files, no links, no hidden or special entries.
    static constexpr int listingFilter = 0x100B;

    void Quit();
    bool IsQuitting();

    // Read and emptied by the merge on the GUI thread, only after FoldersScanned.
    ScanResults& Results() { return scanResults; }
    // Folders listed by the walks of this scanner so far; read from any thread.
    int ListedFolderCount() const { return listedFolders.load(); }

    // Whether a folder may be walked as part of the root: case counts, as on the disk.
    static bool IsUnderRoot(const QString& root, const QString& folder);
    // Whether the name ends in ".mp3" in any case and is more than that ending.
    static bool IsMP3Name(const QString& name);

    bool ScanMP3(const QString& path, int& mpegVersion, QString& channelMode, int& frequency,
                 bool& vbr, int& bitrate);

signals:
    void FoldersScanned();
    void MP3Scanned(QString path, int mpegVersion, QString channelMode, int frequency, bool vbr,
                    int bitrate);

public slots:
    void ScanFolders(QStringList roots);
    void OnMP3ScanRequired(QString path);

private:
    void ScanFolder(const QString& root, const QString& folder, std::set<QString>& visited);

    ScanResults scanResults;
    bool quit = false;
    QMutex mutex;
    std::atomic<int> listedFolders{0};
};
