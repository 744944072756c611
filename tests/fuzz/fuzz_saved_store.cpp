// Bytes as a saved store file, loaded into a store with the server connection's types declared.

#include <QFile>

#include "Data.h"
#include "DataLoadFailure.h"
#include "DataSaver.h"
#include "FuzzTarget.h"
#include "ServerTypes.h"
#include "Settings.h"

namespace {
const char* const savedName = ".vandrell.1";

DataSaver& Saver()
{
    FuzzTarget::DeclaredServer();
    static DataSaver saver;
    return saver;
}

QByteArray SavedStore()
{
    const QString path = FuzzTarget::TemporaryFolder() + "/seed";
    Saver().SaveAll(path);
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.remove();
    return bytes;
}

// A store as a user who has chatted and kept a user list leaves it.
void FillStore()
{
    using namespace ServerTypes;
    Type* users = d.GetType(user);
    ItemPtr ann = users->GetItem("ann"), bob = users->GetItem("bob");
    ann.NewItem(inUserList).Connect(d.GetType(userListGroup)->GetItem("friends"));
    bob.NewItem(isIgnored);
    ann.NewItem(isOnline);
    ItemPtr lounge = d.GetType(room)->GetItem("lounge");
    lounge.NewItem(roomAutojoin);
    lounge.NewItem(isPrivate);
    lounge.NewItem(roomMembers).Connect(bob);
    ItemPtr ticker = d.GetType(roomTicker)->NewItem();
    ticker.Connect(ann);
    ticker.Connect(d.GetType(roomTickerText)->GetItem("hello there"));
    lounge.Connect(ticker);
    Settings::Set(ServerSettings::listeningPort, 2234);
}
} // namespace

namespace FuzzTarget {
std::vector<QByteArray> Seeds()
{
    Saver();
    ResetStore();
    std::vector<QByteArray> seeds{SavedStore()};
    FillStore();
    seeds.push_back(SavedStore());
    d.RemoveAllItems();
    seeds.push_back(SavedStore());
    return seeds;
}
} // namespace FuzzTarget

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DataSaver& saver = Saver();
    const QString path = FuzzTarget::WriteTemporaryFile(savedName, data, size);
    d.RemoveAllItems();
    try
    {
        saver.Load(path.chopped(2));
    }
    catch (const DataLoadFailure&)
    {}
    FuzzTarget::EmptyTemporaryFolder();
    d.RemoveAllItems();
    return 0;
}
