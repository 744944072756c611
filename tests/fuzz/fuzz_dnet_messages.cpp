// Distributed network messages as the frame reader hands them over. The first byte picks the road:
// 0 delivered by the server, 1 from a parent candidate's link, 2 from a child's link (any other
// value counts as 0). The rest is a run of messages, each after its u32 length.

#include <QCoreApplication>
#include <QTcpSocket>

#include "DNetBytes.h"
#include "DNetManager.h"
#include "Data.h"
#include "FuzzTarget.h"
#include "MemStream.h"

namespace {
using namespace DNetBytes;

enum Road : char
{
    FromServer,
    FromCandidate,
    FromChild
};
} // namespace

namespace FuzzTarget {
std::vector<QByteArray> Seeds()
{
    const std::vector<QByteArray> messages{
        Search("ann", 7, "jazz -live"),
        Message(3, quint32(50), QString("other")),
        Level(2),
        Level(-1),
        Leader("lead"),
        ChildDepth(3),
        Message(9),
    };
    std::vector<QByteArray> seeds;
    for (char road : {FromServer, FromCandidate, FromChild})
    {
        QByteArray all(1, road);
        for (const QByteArray& message : messages)
        {
            seeds.push_back(QByteArray(1, road) + Frame(message));
            all += Frame(message);
        }
        seeds.push_back(all);
    }
    return seeds;
}
} // namespace FuzzTarget

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    FuzzTarget::DeclaredServer();
    FuzzTarget::ResetStore();
    auto* manager = new DNetManager;
    const char road = char(data[0]);
    QTcpSocket* link = nullptr;
    if (road == FromCandidate || road == FromChild)
    {
        // Owned by the manager from here on.
        link = new QTcpSocket;
        if (road == FromCandidate)
            manager->OnDNetConnectionAccepted("parent", link);
        else
            manager->OnDNetConnectionRequested("child", link);
    }

    FuzzTarget::ForEachFramed(data + 1, size - 1, DNetManager::maxFrameLength,
                              [&](MemStream& message) {
                                  if (road == FromChild)
                                      manager->HandleChildMessage(link, message);
                                  else
                                      manager->HandleMessage(link, message);
                                  return true;
                              });
    delete manager;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    d.RemoveAllItems();
    return 0;
}
