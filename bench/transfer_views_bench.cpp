// Transfer views benchmark: a download queue of 5,000 and then 20,000 entries from 200 users in
// ten folders each is shown on a fresh Transfers tab as after loading the saved store; then ten
// running downloads report progress ten times a second for ten seconds' worth of updates; then
// half of the queue is completed and cleared at once. It prints the time to build the tree, the
// mean time per progress update and the time to complete and to clear, for both sizes, so that a
// quadratic step shows as a sixteen-fold time. Only a failed sanity check fails the run.

#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTreeWidget>

#include "EntryList.h"
#include "TransferTypes.h"
#include "TransfersForm.h"
#include "TransfersTestSetup.h"
#include "ui_TransfersForm.h"

namespace {
constexpr int userCount = 200;
constexpr int foldersPerUser = 10;
constexpr int running = 10;
constexpr int updatesPerTransfer = 100;

double Ms(QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

bool Run(TransfersTestSetup& setup, int entryCount)
{
    TransferQueueManager* manager = setup.manager;
    std::vector<ItemPtr> entries;
    entries.reserve(entryCount);
    for (int index = 0; index < entryCount; ++index)
    {
        const int user = index % userCount;
        const int folder = (index / userCount) % foldersPerUser;
        entries.push_back(manager->AddDownload(
            QString("user%1").arg(user), QString("file%1.mp3").arg(index).toStdString(),
            QString("music\\folder%1").arg(folder).toStdString(), 10000000, false, 0));
    }

    QTabWidget tabs;
    auto* form = new TransfersForm;
    tabs.addTab(form, "Transfers");
    form->Init();
    QElapsedTimer timer;
    timer.start();
    emit manager->TransfersLoaded();
    const double build = Ms(timer);
    QTreeWidget* tree = form->Form()->downloadsList;
    if (tree->topLevelItemCount() != userCount)
    {
        std::fprintf(stderr, "expected %d user rows, saw %d\n", userCount,
                     tree->topLevelItemCount());
        return false;
    }

    std::vector<qint64*> positions;
    for (int index = 0; index < running; ++index)
    {
        ItemPtr entry = entries[index * 7];
        manager->SetDownloadEntryStatus(entry, TransferStatus::downloading);
        auto* position = new qint64(0);
        positions.push_back(position);
        entry.Connect(d.GetType(TransferTypes::writePosition)->GetItem(Value(position)));
        entry.Connect(d.GetType(TransferTypes::bytesPerSecond)->GetItem(Value(new int(100000))));
    }
    // One user row collapsed, so that group sums are taken as well.
    tree->topLevelItem(0)->setExpanded(false);
    timer.restart();
    for (int update = 0; update < updatesPerTransfer; ++update)
        for (int index = 0; index < running; ++index)
        {
            *positions[index] += 10000;
            emit manager->DownloadProgressed(entries[index * 7]);
        }
    const double perUpdate = Ms(timer) / (running * updatesPerTransfer);

    timer.restart();
    for (int index = 0; index < entryCount; index += 2)
        manager->SetDownloadEntryStatus(entries[index], TransferStatus::complete);
    QCoreApplication::processEvents();
    const double complete = Ms(timer);
    timer.restart();
    form->OnActionBarTriggered(nullptr, "clear_complete_downloads");
    QCoreApplication::processEvents();
    const double clear = Ms(timer);
    const size_t left = g(TransferTypes::downloadEntry).Size();

    std::printf("%6d downloads: tree built %8.1f ms, progress update %6.3f ms, %d completed "
                "%8.1f ms, cleared %8.1f ms\n",
                entryCount, build, perUpdate, entryCount / 2, complete, clear);
    for (ItemPtr entry : EntryList(g(TransferTypes::downloadEntry)))
        manager->RemoveDownload(entry);
    QCoreApplication::processEvents();
    if (left != static_cast<size_t>(entryCount - entryCount / 2))
    {
        std::fprintf(stderr, "expected %d entries left, saw %zu\n", entryCount / 2, left);
        return false;
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TransfersTestSetup setup;
    setup.Build();
    Settings::Set("download_folder", setup.Downloads());
    bool ok = true;
    for (int count : {5000, 20000})
        ok = Run(setup, count) && ok;
    setup.Destroy();
    return ok ? 0 : 1;
}
