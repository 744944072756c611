#include "DownloadPath.h"

#include <QDir>

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

QStringList DownloadPath::RelativeComponents(const std::string& remoteFolder, int level)
{
    // Split as bytes and decode each name as file names are decoded: decoding the whole folder
    // as UTF-8 would turn every 8-bit name into the same replacement characters.
    QStringList components;
    std::string::size_type start = 0;
    while (start <= remoteFolder.size())
    {
        std::string::size_type end = remoteFolder.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = remoteFolder.size();
        if (end > start)
            components << SafeComponent(ToQString(remoteFolder.substr(start, end - start)));
        start = end + 1;
    }
    // Compared before adding one, so that a saved level of INT_MAX cannot overflow.
    const int wanted = level < 0 ? 0 : level;
    if (wanted < components.size())
        components = components.mid(components.size() - wanted - 1);
    return components;
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
