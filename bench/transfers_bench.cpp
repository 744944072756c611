#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "Data.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"

// The queues at the sizes of a busy client: thousands of downloads from one user, thousands of
// uploads over many users. Each figure is measured at two sizes; a cost that grows with the
// square of the queue shows as a hundredfold step between them.
namespace {
using namespace TransferTypes;

TransferQueueManager* manager = nullptr;

void Forget()
{
    for (ItemPtr entry : g(downloadEntry))
        manager->RemoveDownload(entry);
    for (ItemPtr entry : g(uploadEntry))
        manager->RemoveUpload(entry);
    for (ItemPtr message : g("unsent_message"))
        delete message.AsPointer<MemStream>();
    g("unsent_message").Remove();
}

void QueueDownloads(int count)
{
    Forget();
    for (int i = 0; i < count; ++i)
        manager->AddDownload("source", "file " + std::to_string(i) + ".mp3",
                             "music\\folder " + std::to_string(i / 100), 1000, false, 0);
}

void FindDownload(benchmark::State& state)
{
    const int count = int(state.range(0));
    QueueDownloads(count);
    int i = 0;
    for (auto _ : state)
    {
        const int n = (i++ * 7919) % count;
        benchmark::DoNotOptimize(
            manager->GetDownloadEntry("source", "file " + std::to_string(n) + ".mp3",
                                      "music\\folder " + std::to_string(n / 100)));
    }
}
BENCHMARK(FindDownload)->Arg(1000)->Arg(10000);

void HundredCompletions(benchmark::State& state)
{
    const int count = int(state.range(0));
    for (auto _ : state)
    {
        state.PauseTiming();
        QueueDownloads(count);
        ItemSet entries = g(downloadEntry);
        std::vector<ItemPtr> chosen;
        for (ItemPtr entry : entries)
            if (chosen.size() < 100)
                chosen.push_back(entry);
        for (ItemPtr entry : chosen)
            manager->SetDownloadEntryStatus(entry, TransferStatus::downloading);
        state.ResumeTiming();
        for (ItemPtr entry : chosen)
            manager->SetDownloadEntryStatus(entry, TransferStatus::complete);
    }
}
BENCHMARK(HundredCompletions)->Arg(1000)->Arg(10000)->Iterations(3);

void QueueUploads(int count)
{
    Forget();
    const int users = 50;
    for (int u = 0; u < users; ++u)
        d.GetType(ServerTypes::user)
            ->GetItem(Value("peer " + std::to_string(u)))
            ->Disconnect(d.GetType(ServerTypes::isOnline)->GetGlobalNullItem());
    for (int i = 0; i < count; ++i)
        manager->AddUpload(QString("peer %1").arg(i % users),
                           QString("/shared/file %1.mp3").arg(i / users));
    for (int u = 0; u < users; ++u)
        ItemPtr(d.GetType(ServerTypes::user)->GetItem(Value("peer " + std::to_string(u))))
            .Connect(d.GetType(ServerTypes::isOnline)->GetGlobalNullItem());
    manager->StartNewUploads();
}

// A running upload ends and the next one starts, renumbering every queued entry.
void UploadStatusChange(benchmark::State& state)
{
    QueueUploads(int(state.range(0)));
    for (auto _ : state)
    {
        ItemPtr running = ItemPtr(d.GetType(uploadEntryStatus)->GetItem(TransferStatus::requesting))
                              .GetItems(uploadEntry);
        manager->SetUploadEntryStatus(running, TransferStatus::complete);
        manager->StartNewUploads();
    }
}
BENCHMARK(UploadStatusChange)->Arg(500)->Arg(5000)->Iterations(100);

void Share(int files)
{
    using namespace SharesTypes;
    ItemPtr root = d.GetType(sharedFolder)->GetItem(Value("/shared"));
    root.NewItem(sharedPublic);
    ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value("/shared"));
    root.Connect(folder);
    for (int i = 0; i < files; ++i)
    {
        ItemPtr file = folder.NewItem(sharedFile);
        file.Connect(d.GetType(sharedFileName)->GetItem(Value(QString("file %1.mp3").arg(i))));
        file.Connect(d.GetType(sharedFileSize)->GetItem(Value(1000)));
    }
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    MessengerTestSetup::Build(server, messenger);
    auto* shares = new SharedFoldersManager;
    manager = new TransferQueueManager;
    Settings::Set("download_folder", home.path() + "/downloads");
    Share(100);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    Forget();
    delete manager;
    delete shares;
    delete messenger;
    delete server;
    return 0;
}
