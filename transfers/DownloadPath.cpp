#include "DownloadPath.h"

#include <vector>

#include <QDir>
#include <QFileInfo>

#include "ExtendedAsciiTranslator.h"

QString DownloadPath::SafeComponent(const QString& name)
{
    QString safe = name;
    for (QChar& character : safe)
        if (character == '\\' || character == '/' || character == QChar(0))
            character = '_';
    if (safe.isEmpty() || safe == "." || safe == "..")
        return "_";
    return safe;
}

namespace {
// The non-empty names of a remote folder, split at either separator, as the peer's bytes.
std::vector<std::string> RemoteComponents(const std::string& remoteFolder)
{
    std::vector<std::string> components;
    std::string::size_type start = 0;
    while (start <= remoteFolder.size())
    {
        std::string::size_type end = remoteFolder.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = remoteFolder.size();
        if (end > start)
            components.push_back(remoteFolder.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

// How many trailing components the level keeps: all when the folder has fewer. Compared before
// adding one, so that a saved level of INT_MAX cannot overflow.
std::size_t KeptCount(std::size_t count, int level)
{
    const std::size_t wanted = level < 0 ? 0 : std::size_t(level);
    return wanted < count ? wanted + 1 : count;
}
} // namespace

QStringList DownloadPath::RelativeComponents(const std::string& remoteFolder, int level)
{
    // Split as bytes and decode each name as file names are decoded: decoding the whole folder
    // as UTF-8 would turn every 8-bit name into the same replacement characters.
    const std::vector<std::string> remote = RemoteComponents(remoteFolder);
    QStringList components;
    for (std::size_t index = remote.size() - KeptCount(remote.size(), level); index < remote.size();
         ++index)
        components << SafeComponent(ToQString(remote[index]));
    return components;
}

int DownloadPath::ComponentCount(const std::string& remoteFolder)
{
    return int(RemoteComponents(remoteFolder).size());
}

std::string DownloadPath::ChosenFolder(const std::string& remoteFolder, int level)
{
    const std::vector<std::string> remote = RemoteComponents(remoteFolder);
    const std::size_t end = remote.size() - KeptCount(remote.size(), level) + 1;
    std::string chosen;
    for (std::size_t index = 0; index < end && index < remote.size(); ++index)
        chosen += (index > 0 ? "\\" : "") + remote[index];
    return chosen;
}

QString DownloadPath::Numbered(const QString& path, int number)
{
    if (number <= 1)
        return path;
    const int slash = path.lastIndexOf('/');
    int dot = path.lastIndexOf('.');
    // A leading dot starts a hidden name, not its ending.
    if (dot <= slash + 1)
        dot = path.size();
    return path.left(dot) + QString(" (%1)").arg(number) + path.mid(dot);
}

bool DownloadPath::IsTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool DownloadPath::IsInside(const QString& localPath, const QString& root)
{
    QString cleanRoot = QDir::cleanPath(root);
    if (!cleanRoot.endsWith('/'))
        cleanRoot += '/';
    return QDir::cleanPath(localPath).startsWith(cleanRoot);
}

QString DownloadPath::DefaultRoot()
{
    return QDir::homePath() + "/Vandrell Downloads";
}

bool DownloadPath::IsUsableRoot(const QString& root)
{
    return !root.trimmed().isEmpty() && QDir::isAbsolutePath(root);
}
