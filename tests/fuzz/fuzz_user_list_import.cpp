// Bytes as the user-list file of the older client, imported into the user list.

#include <set>
#include <string>

#include "ConfigurationImporter.h"
#include "Data.h"
#include "FuzzTarget.h"
#include "MemStream.h"

namespace {
QByteArray UserList(const std::set<std::string>& names)
{
    MemStream file;
    file.Write(names);
    return QByteArray(file.GetWrittenData(), file.GetWrittenLength());
}
} // namespace

namespace FuzzTarget {
std::vector<QByteArray> Seeds()
{
    return {UserList({}), UserList({"ann"}), UserList({"ann", "bob", std::string("dee\0x", 5)})};
}
} // namespace FuzzTarget

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzTarget::DeclaredServer();
    const QString path = FuzzTarget::WriteTemporaryFile("user_list.cfg", data, size);
    d.RemoveAllItems();
    ConfigurationImporter::ImportUserList(path);
    d.RemoveAllItems();
    return 0;
}
