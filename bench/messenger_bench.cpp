// Peer messenger benchmark, over loopback links to fake peers in the same process:
// one search reply of 100,000 records through the frame reader and the result store, then the
// same reply again (every record a duplicate); and 1,000 links that come up at once and each
// send one small message, with messages per second and the resident peak per link (both ends of
// each link are in this process). Only a failed sanity check fails the run.

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QTest>

#include "CompressedBody.h"
#include "Data.h"
#include "FakePeer.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "ProcessMemory.h"
#include "SearchResultBody.h"
#include "Server.h"
#include "ServerStore.h"

namespace {
constexpr int recordCount = 100000;
constexpr int linkCount = 1000;
constexpr std::uint32_t token = 1;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

QByteArray SearchReply(const QString& user)
{
    SearchResultBody reply;
    reply.user = user;
    reply.token = token;
    for (int index = 0; index < recordCount; ++index)
    {
        FileInfo file;
        file.name =
            QString("music\\artist %1\\song %2.mp3").arg(index / 100).arg(index).toStdString();
        file.size = 4000000 + index;
        file.attributes.pairs = {{0, 320}, {1, 240}};
        reply.results.push_back(file);
    }
    MemStream body;
    MemStream message;
    reply.Write(body);
    CompressedBody::Compress(9, body, message);
    return QByteArray(message.GetWrittenData(), message.GetWrittenLength());
}

template <class Condition> bool RunUntil(Condition condition)
{
    return QTest::qWaitFor(condition, 120000);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    MessengerTestSetup::Build(server, messenger);

    ItemPtr request = d.GetType(PeerTypes::searchRequest)->NewItem(Value(token));
    ServerStore::SetAttribute(request, PeerTypes::searchRequestText, "song");
    int announced = 0;
    int asked = 0;
    QObject::connect(messenger, &PeerMessenger::SearchResults, [&](ItemPtr) { ++announced; });
    QObject::connect(messenger, &PeerMessenger::UserInfoRequested, [&](QString) { ++asked; });

    const QByteArray reply = SearchReply("finder");
    FakePeer finder;
    finder.Dial(messenger->ListeningPort());
    finder.SendFrame(FakePeer::InitBody("finder", "P"));
    const QByteArray frame = finder.Frame(reply);

    auto start = Clock::now();
    finder.SendRaw(frame);
    const bool stored = RunUntil([&] { return announced == 1; });
    const double storeSeconds = SecondsSince(start);

    start = Clock::now();
    finder.SendRaw(frame);
    finder.Send(15);
    const bool answered = RunUntil([&] { return asked == 1; });
    const double duplicateSeconds = SecondsSince(start);
    const size_t results = d.GetType(PeerTypes::searchResult)->ItemCount();
    if (!stored || !answered || announced != 1 || results != size_t(recordCount))
    {
        std::fprintf(stderr, "sanity check failed: %d announcements, %zu results\n", announced,
                     results);
        return 1;
    }

    // The finder's link goes first: 1,000 more would pass the cap on open links, which pushes
    // out the link idle longest.
    finder.Close();
    if (!RunUntil([] { return d.GetType(PeerTypes::peerSocket)->ItemCount() == 0; }))
    {
        std::fprintf(stderr, "sanity check failed: the finder's link stays open\n");
        return 1;
    }
    static_assert(linkCount <= PeerMessenger::maxOpenLinks);

    const long before = ResetPeakKb();
    // Dialled in batches that the listen queue holds; all are open before any message goes.
    std::vector<std::unique_ptr<FakePeer>> peers;
    bool connected = true;
    for (int index = 0; index < linkCount && connected; ++index)
    {
        peers.push_back(std::make_unique<FakePeer>());
        peers.back()->Dial(messenger->ListeningPort(), 0);
        if (peers.size() % 25 == 0 || index == linkCount - 1)
            connected = RunUntil([&] {
                return d.GetType(PeerTypes::uninitializedSocket)->ItemCount() == peers.size();
            });
    }
    int folderRequests = 0;
    QObject::connect(messenger, &PeerMessenger::SharedFilesInFolderRequested,
                     [&](QString, quint32, QString) { ++folderRequests; });
    start = Clock::now();
    for (int index = 0; index < linkCount; ++index)
    {
        FakePeer& peer = *peers[index];
        peer.SendRaw(peer.Frame(FakePeer::InitBody(QString("link%1").arg(index), "P")) +
                     peer.Frame(FakePeer::Body(36, std::uint32_t(index), QString("folder"))));
    }
    const bool delivered = RunUntil([&] { return folderRequests == linkCount; });
    const double linkSeconds = SecondsSince(start);
    const long peakKb = StatusKb("VmHWM:") - before;
    if (!connected || !delivered ||
        d.GetType(PeerTypes::peerSocket)->ItemCount() < size_t(linkCount))
    {
        std::fprintf(stderr, "sanity check failed: %d of %d messages\n", folderRequests, linkCount);
        return 1;
    }

    std::printf("search reply of %d records, %.1f MB compressed\n", recordCount,
                reply.size() / 1e6);
    std::printf("stored: %.3f s, %.0f records/s\n", storeSeconds, recordCount / storeSeconds);
    std::printf("duplicate dropped: %.3f s, %.0f records/s\n", duplicateSeconds,
                recordCount / duplicateSeconds);
    std::printf("%d links, one message each: %.3f s, %.0f messages/s\n", linkCount, linkSeconds,
                linkCount / linkSeconds);
    std::printf("resident peak per link (both ends): %.1f kB\n", double(peakKb) / linkCount);
    peers.clear();
    delete messenger;
    delete server;
    return 0;
}
