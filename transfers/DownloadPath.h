#pragma once

#include <string>

#include <QString>
#include <QStringList>

// Turns the names a peer gives its files and folders into parts of local paths. A peer's name is
// never trusted: each component is made harmless on its own, and a finished path is checked to
// stay inside the download folder.
class DownloadPath
{
public:
    // One component as a local name: separators and NUL become "_", and ".", ".." and an empty
    // name become "_".
    static QString SafeComponent(const QString& name);
    // The last level + 1 non-empty components of a remote folder ("\" or "/" separated), each
    // decoded like a file name and made safe, in their remote order; all of them when the folder
    // has fewer, one when the level is negative.
    static QStringList RelativeComponents(const std::string& remoteFolder, int level);
    // Whether the local path lies strictly inside the root folder once both are cleaned.
    static bool IsInside(const QString& localPath, const QString& root);
    // How many non-empty names the remote folder has.
    static int ComponentCount(const std::string& remoteFolder);
    // The remote folder that the first of RelativeComponents names: the folder a folder download
    // was started from; its components joined with "\".
    static std::string ChosenFolder(const std::string& remoteFolder, int level);
    // The path, or for number 2 and up the path with " (number)" before the name's ending:
    // "a/b.mp3", "a/b (2).mp3". A name that would pass the file system's limit is shortened
    // before its number, on a whole character. Names are tried in turn up to the bound.
    static QString Numbered(const QString& path, int number);
    // A folder's name has no ending to keep: "Music", "Music (2)", shortened like a file's.
    static QString NumberedFolder(const QString& name, int number);
    // Which numbered form of the own name the name is: 1 for the name itself, 0 for none. The
    // ending is kept for files and not for folders, as the two functions above do.
    static int NumberOf(const QString& name, const QString& own, bool keepEnding);
    // The start that a folder name shares with each of its numbered forms.
    static QString NumberedStem(const QString& name);
    static constexpr int maxNameBytes = 255;
    static int NumberedNameBound();
    // Lets a test run out of numbered names without making thousands of files.
    static void SetNumberedNameBoundForTests(int bound);
    // Whether anything, a dangling link included, is at the path.
    static bool IsTaken(const QString& path);
    // The download folder used when none, or an unusable one, is set.
    static QString DefaultRoot();
    // An empty or relative folder would put downloads under "/" or wherever the program started.
    static bool IsUsableRoot(const QString& root);
};
