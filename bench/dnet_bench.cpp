// Distributed network benchmark: 100,000 searches delivered by the server, each answered (no
// receiver here) and relayed to 50 children over loopback links in the same process, with
// searches per second and the bytes written per search. Only a failed sanity check fails the run.

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "DNetBytes.h"
#include "DNetManager.h"
#include "DNetTypes.h"
#include "Data.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "Server.h"

namespace {
constexpr int searchCount = 100000;
constexpr int childCount = 50;
// The event loop drains the children's links this often, as it would between messages.
constexpr int drainEvery = 500;

using Clock = std::chrono::steady_clock;
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    MessengerTestSetup::Build(server, messenger);
    auto* manager = new DNetManager;

    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost, 0);
    std::vector<std::unique_ptr<QTcpSocket>> children;
    qint64 received = 0;
    for (int index = 0; index < childCount; ++index)
    {
        auto child = std::make_unique<QTcpSocket>();
        QTcpSocket* reader = child.get();
        QObject::connect(reader, &QTcpSocket::readyRead,
                         [reader, &received] { received += reader->readAll().size(); });
        child->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        if (!listener.waitForNewConnection(5000) || !child->waitForConnected(5000))
            return 1;
        manager->OnDNetConnectionRequested(QString("child%1").arg(index),
                                           listener.nextPendingConnection());
        children.push_back(std::move(child));
    }
    if (d.GetType(DNetTypes::dnetChild)->ItemCount() != std::size_t(childCount))
        return 1;

    int answered = 0;
    QObject::connect(manager, &DNetManager::DNetSearchRequest, [&answered] { ++answered; });
    const QByteArray search = DNetBytes::Search("asker", 7, "some artist some album flac");
    const auto start = Clock::now();
    for (int index = 0; index < searchCount; ++index)
    {
        MemStream message;
        message.WriteBuffer(search.constData(), search.size());
        manager->OnDNetMessage(message);
        if (index % drainEvery == 0)
            QCoreApplication::processEvents();
    }
    const double relaySeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const qint64 expected = qint64(searchCount) * childCount * (search.size() + 4);
    if (!QTest::qWaitFor([&] { return received >= expected; }, 120000) || answered != searchCount)
        return 1;
    const double totalSeconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::printf("relayed %d searches to %d children\n", searchCount, childCount);
    std::printf("searches per second (relay calls):      %.0f\n", searchCount / relaySeconds);
    std::printf("searches per second (until all read):   %.0f\n", searchCount / totalSeconds);
    std::printf("bytes written per search (all children): %.1f\n", double(received) / searchCount);
    std::printf("bytes per search per child:             %.1f\n",
                double(received) / searchCount / childCount);
    delete manager;
    delete messenger;
    delete server;
    return 0;
}
