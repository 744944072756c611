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

// The queues at the sizes of a busy client: thousands of downloads from one user, tens of
// thousands of uploads over many users. Each figure is measured at two sizes; a cost that grows
// with the square of the queue shows as a hundredfold step between them.
namespace {
using namespace TransferTypes;

TransferQueueManager* manager = nullptr;

void Forget()
{
    for (ItemPtr entry : g(downloadEntry))
        manager->RemoveDownload(entry);
    // No slot while emptying, so that each removal does not walk the rest of the queue.
    const QString slotCount = Settings::GetText("upload_slots");
    Settings::Set("upload_slots", "0");
    for (ItemPtr entry : g(uploadEntry))
        manager->RemoveUpload(entry);
    Settings::Set("upload_slots", slotCount);
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

const int uploadUsers = 500;

void SetOnline(const std::string& user, bool online)
{
    ItemPtr userItem = d.GetType(ServerTypes::user)->GetItem(Value(user));
    if (online)
        userItem.Connect(d.GetType(ServerTypes::isOnline)->GetGlobalNullItem());
    else
        userItem.Disconnect(ServerTypes::isOnline);
}

// The queue of a busy uploader: the count spread over 500 users, a hundred files each at most.
void QueueUploads(int count, bool online)
{
    Forget();
    for (int u = 0; u < uploadUsers; ++u)
        SetOnline("peer " + std::to_string(u), false);
    for (int i = 0; i < count; ++i)
        manager->AddUpload(QString("peer %1").arg(i % uploadUsers),
                           QString("/shared/file %1.mp3").arg(i / uploadUsers));
    for (int u = 0; u < uploadUsers && online; ++u)
        SetOnline("peer " + std::to_string(u), true);
    manager->StartNewUploads();
}

// A running upload ends and the next one starts, renumbering every queued entry.
void UploadStatusChange(benchmark::State& state)
{
    QueueUploads(int(state.range(0)), true);
    for (auto _ : state)
    {
        ItemPtr running = ItemPtr(d.GetType(uploadEntryStatus)->GetItem(TransferStatus::requesting))
                              .GetItems(uploadEntry);
        manager->SetUploadEntryStatus(running, TransferStatus::complete);
        manager->StartNewUploads();
    }
}
BENCHMARK(UploadStatusChange)->Arg(5000)->Arg(50000)->Iterations(50)->Unit(benchmark::kMillisecond);

// One user asks for a whole folder while a slot is free and every other user is offline.
void QueueForOfflineUser(benchmark::State& state)
{
    QueueUploads(int(state.range(0)), false);
    SetOnline("collector", false);
    for (auto _ : state)
    {
        for (int i = 0; i < 10000; ++i)
            manager->AddUpload("collector", QString("/shared/file %1.mp3").arg(i));
        state.PauseTiming();
        ItemPtr collector = d.GetType(ServerTypes::user)->GetItem(Value("collector"));
        for (ItemPtr entry : collector.GetItems(uploadEntry))
            manager->RemoveUpload(entry);
        state.ResumeTiming();
    }
}
BENCHMARK(QueueForOfflineUser)->Arg(5000)->Arg(50000)->Iterations(2)->Unit(benchmark::kMillisecond);

// The queue length that goes into every search answer.
void SearchAnswerQueuedCount(benchmark::State& state)
{
    QueueUploads(int(state.range(0)), false);
    for (auto _ : state)
        benchmark::DoNotOptimize(manager->QueuedUploadCount());
}
BENCHMARK(SearchAnswerQueuedCount)->Arg(5000)->Arg(50000);

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
    Share(10000);

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
