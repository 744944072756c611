#include "CachedIcon.h"

#include <QHash>
#include <QIcon>

const QIcon& CachedIcon(const char* path)
{
    static QHash<const char*, QIcon> icons;
    auto found = icons.find(path);
    if (found == icons.end())
        found = icons.insert(path, QIcon(path));
    return *found;
}
