// Server message benchmark: one million user-status messages (code 7) go from one buffer through
// the frame reader and the dispatcher of a logged-in connection, beside the time to copy the same
// bytes once. Times are the best of a few runs; the target (500,000 messages per second) is
// informational, and only a failed sanity check fails the run.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <QBuffer>
#include <QCoreApplication>

#include "BenchTiming.h"
#include "Data.h"
#include "FakeCentralServer.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "ServerTypes.h"

namespace {
constexpr int messageCount = 1000000;
constexpr int userCount = 10000;
constexpr int runs = 3;

// Users go online, away and offline in turn, so most messages change the store.
QByteArray StatusMessages()
{
    QByteArray bytes;
    for (int index = 0; index < messageCount; ++index)
    {
        const QString user = QString("user%1").arg(index % userCount);
        const qint32 status = (index / userCount) % 3;
        bytes += FakeCentralServer::Frame(FakeCentralServer::Body(7, user, status, false));
    }
    return bytes;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    FakeCentralServer fake;
    Server server;
    ServerTestSetup::DeclareTypes(server);
    ServerTestSetup::ResetStore();
    if (!ServerTestSetup::LogIn(server, fake))
    {
        std::fprintf(stderr, "could not log in to the loopback server\n");
        return 1;
    }

    const QByteArray messages = StatusMessages();
    const double dispatchSeconds = BestSeconds(runs, [&] {
        QBuffer source;
        source.setData(messages);
        source.open(QIODevice::ReadOnly);
        server.ReadFrames(source);
        if (source.bytesAvailable() != 0)
            std::fprintf(stderr, "frames left unread\n");
    });
    std::vector<char> copy(messages.size());
    const double copySeconds = BestSeconds(runs, [&] {
        std::memcpy(copy.data(), messages.constData(), static_cast<size_t>(messages.size()));
    });

    const size_t online = g(ServerTypes::user).Connected(ServerTypes::isOnline).Size();
    if (!server.IsConnected() || d.GetType(ServerTypes::user)->ItemCount() != userCount ||
        online != 0)
    {
        std::fprintf(stderr, "sanity check failed: %zu users online at the end\n", online);
        return 1;
    }

    std::printf("%d messages, %.1f MB\n", messageCount, messages.size() / 1e6);
    std::printf("frame reader and dispatcher: %.3f s, %.0f messages/s (target 500000)\n",
                dispatchSeconds, messageCount / dispatchSeconds);
    std::printf("copying the same bytes once: %.4f s (%.0fx faster)\n", copySeconds,
                dispatchSeconds / copySeconds);
    return 0;
}
