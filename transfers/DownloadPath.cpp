#include "DownloadPath.h"

#include <QDir>

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
    QStringList components;
    for (const QString& part : QString::fromStdString(remoteFolder).split(QRegExp("[\\\\/]")))
        if (!part.isEmpty())
            components << SafeComponent(part);
    const int keep = qMax(level, 0) + 1;
    if (components.size() > keep)
        components = components.mid(components.size() - keep);
    return components;
}

bool DownloadPath::IsInside(const QString& localPath, const QString& root)
{
    QString cleanRoot = QDir::cleanPath(root);
    if (!cleanRoot.endsWith('/'))
        cleanRoot += '/';
    return QDir::cleanPath(localPath).startsWith(cleanRoot);
}
