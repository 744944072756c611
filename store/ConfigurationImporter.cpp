#include "ConfigurationImporter.h"

#include <set>
#include <string>

#include <QFile>

#include "Data.h"
#include "QFileStreamer.h"

namespace {
// Declared by the server connection, which this library may not include.
const char* const userType = "user";
const char* const inUserListType = "in_user_list";

// Names are raw bytes, each ending at its first NUL; equal names count once.
bool ReadNames(const QString& path, std::set<std::string>& names)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QFileStreamer stream(file);
    return stream.Read(names);
}
} // namespace

bool ConfigurationImporter::ImportUserList(const QString& path)
{
    std::set<std::string> names;
    if (!ReadNames(path, names))
        return false;
    Type* users = d.GetType(userType);
    Type* entries = d.GetType(inUserListType);
    for (const std::string& name : names)
    {
        // A new entry would replace the old one and drop the user out of their groups.
        const ItemPtr known = users->HasItem(name);
        if (known && known.IsConnected(entries))
            continue;
        const ItemPtr entry = entries->NewItem();
        ItemPtr(users->GetItem(name)) += entry;
    }
    return true;
}
