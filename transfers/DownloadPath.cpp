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

namespace {
int numberedNameBound = 10000;

// The longest start of the text whose UTF-8 form has at most that many bytes; a surrogate pair
// is never split.
QString CutToBytes(const QString& text, int bytes)
{
    if (text.toUtf8().size() <= bytes)
        return text;
    int used = 0;
    int index = 0;
    while (index < text.size())
    {
        const bool pair = text.at(index).isHighSurrogate() && index + 1 < text.size() &&
                          text.at(index + 1).isLowSurrogate();
        const int length = pair ? 2 : 1;
        const int size = text.mid(index, length).toUtf8().size();
        if (used + size > bytes)
            break;
        used += size;
        index += length;
    }
    return text.left(index);
}

// The name with " (number)" between its stem and its ending, the stem shortened so that the
// whole fits; an ending too long to leave room is shortened with the stem instead.
QString NumberedName(const QString& name, int number, bool keepEnding)
{
    if (number <= 1)
        return name;
    int dot = keepEnding ? name.lastIndexOf('.') : -1;
    // A leading dot starts a hidden name, not its ending.
    if (dot <= 0)
        dot = name.size();
    const QString suffix = QString(" (%1)").arg(number);
    QString ending = name.mid(dot);
    QString stem = name.left(dot);
    int room = DownloadPath::maxNameBytes - suffix.toUtf8().size() - ending.toUtf8().size();
    if (room < 0)
    {
        stem = name;
        ending.clear();
        room = DownloadPath::maxNameBytes - suffix.toUtf8().size();
    }
    return CutToBytes(stem, room) + suffix + ending;
}
} // namespace

QString DownloadPath::Numbered(const QString& path, int number)
{
    const int slash = path.lastIndexOf('/');
    return path.left(slash + 1) + NumberedName(path.mid(slash + 1), number, true);
}

QString DownloadPath::NumberedFolder(const QString& name, int number)
{
    return NumberedName(name, number, false);
}

int DownloadPath::NumberOf(const QString& name, const QString& own, bool keepEnding)
{
    if (name == own)
        return 1;
    // The number stands in " (n)" before the own ending, or last when the ending made no room
    // for it; it is checked by making that numbered name again.
    const int dot = keepEnding ? own.lastIndexOf('.') : -1;
    const QString ending = dot > 0 ? own.mid(dot) : QString();
    for (const QString& tail : {ending, QString()})
    {
        if (!name.endsWith(tail))
            continue;
        const QString numbered = name.left(name.size() - tail.size());
        const int open = numbered.lastIndexOf(" (");
        if (open < 0 || !numbered.endsWith(')'))
            continue;
        bool isNumber = false;
        const int number = numbered.mid(open + 2, numbered.size() - open - 3).toInt(&isNumber);
        if (isNumber && number >= 2 && NumberedName(own, number, keepEnding) == name)
            return number;
    }
    return 0;
}

QString DownloadPath::NumberedStem(const QString& name)
{
    // " (" and ")" around at most ten digits.
    return CutToBytes(name, maxNameBytes - 13);
}

int DownloadPath::NumberedNameBound()
{
    return numberedNameBound;
}

void DownloadPath::SetNumberedNameBoundForTests(int bound)
{
    numberedNameBound = bound;
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
