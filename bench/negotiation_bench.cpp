#include <memory>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTest>

#include "Data.h"
#include "FakePeer.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"
#include "TransfersTestSetup.h"

// A user from whom thousands of downloads wait comes online: every one of them is asked for
// again, in queue order, on the GUI thread. Measured with the user's messaging link up (each
// request goes on the wire) and down (requests wait for the link). The counters say how many
// queue requests went out or were kept for the link; the time is the GUI thread's.
namespace {
using namespace TransferTypes;

TransferQueueManager* manager = nullptr;
std::unique_ptr<FakePeer> source;

ItemPtr SourceUser()
{
    return d.GetType(ServerTypes::user)->GetItem(Value("source"));
}

void SetOnline(bool online)
{
    ItemPtr mark = d.GetType(ServerTypes::isOnline)->GetGlobalNullItem();
    if (online)
        SourceUser().Connect(mark);
    else
        SourceUser().Disconnect(mark);
}

void QueueDownloads(int count)
{
    for (ItemPtr entry : g(downloadEntry))
        manager->RemoveDownload(entry);
    SetOnline(false);
    for (int i = 0; i < count; ++i)
        manager->AddDownload("source", "file " + std::to_string(i) + ".mp3",
                             "music\\folder " + std::to_string(i / 100), 1000, false, 0);
}

// Frames the source received, read until the count stops growing.
int Delivered(int expected)
{
    source->WaitForFrames(expected, 20000);
    const int count = source->frames.size();
    source->frames.clear();
    return count;
}

void ComingOnline(benchmark::State& state)
{
    const int count = int(state.range(0));
    const bool linked = state.range(1) != 0;
    if (linked != (source != nullptr))
    {
        source.reset();
        if (linked)
        {
            source = std::make_unique<FakePeer>();
            source->Dial(peerMessenger->ListeningPort());
            source->SendFrame(FakePeer::InitBody("source", "P"));
        }
        if (!QTest::qWaitFor(
                [&] { return SourceUser().IsConnected(PeerTypes::peerSocket) == linked; }, 5000))
        {
            state.SkipWithError("the link did not change");
            return;
        }
    }
    int requests = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        QueueDownloads(count);
        TransfersTestSetup::ForgetMessages();
        if (source)
            Delivered(0);
        state.ResumeTiming();
        SetOnline(true);
        state.PauseTiming();
        requests = source ? Delivered(count) : int(g(PeerTypes::unsentMessage).Size());
        state.ResumeTiming();
    }
    state.counters["queue_requests"] = requests;
}
BENCHMARK(ComingOnline)
    ->Args({1000, 1})
    ->Args({10000, 1})
    ->Args({1000, 0})
    ->Args({10000, 0})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The half-minute run when every queued download of the user is due for a place question.
void PlaceQuestions(benchmark::State& state)
{
    const int count = int(state.range(0));
    int questions = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        QueueDownloads(count);
        SetOnline(true);
        TransfersTestSetup::ForgetMessages();
        const QDateTime due = QDateTime::currentDateTime().addSecs(31);
        state.ResumeTiming();
        manager->EveryHalfMinuteAt(due);
        state.PauseTiming();
        questions = int(g(PeerTypes::unsentMessage).Size());
        state.ResumeTiming();
    }
    state.counters["place_questions_kept"] = questions;
}
BENCHMARK(PlaceQuestions)->Arg(1000)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    TransfersTestSetup setup;
    setup.Build();
    manager = setup.manager;
    Settings::Set("download_folder", setup.Downloads());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    source.reset();
    for (ItemPtr entry : g(downloadEntry))
        manager->RemoveDownload(entry);
    TransfersTestSetup::ForgetMessages();
    setup.Destroy();
    return 0;
}
