// Saved store benchmark: saves and loads one million valued items with two million connections,
// beside the time to read the file's bytes alone. Times are the best and the median of five runs;
// memory figures come from the first. Targets are informational and judged on the best; only a
// failed sanity check fails the run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <malloc.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "Data.h"
#include "DataSaver.h"
#include "ProcessMemory.h"

namespace {
constexpr size_t nodeCount = 1000000;
constexpr size_t groupCount = 1000;
constexpr size_t itemCount = nodeCount + 2 * groupCount;
constexpr int runs = 5;

struct Run
{
    double seconds = 0; // the best
    std::vector<double> all;
    double peakRiseMb = 0;

    double Median() const
    {
        std::vector<double> sorted = all;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

// Runs the work, keeping the best time and the first peak.
template <class Work> void Measure(Run& run, Work work)
{
    const long residentKb = ResetPeakKb();
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    run.all.push_back(elapsed.count());
    if (run.seconds == 0 || elapsed.count() < run.seconds)
        run.seconds = elapsed.count();
    if (run.peakRiseMb == 0)
        run.peakRiseMb = (StatusKb("VmHWM:") - residentKb) / 1024.0;
}

void Build()
{
    Type* node = d.NewType("node", PrimacyRoot, false, false);
    Type* group = d.NewType("group", PrimacyRoot, false, false);
    Type* tag = d.NewType("tag", PrimacyRoot, false, false);
    group->RelateToType(node, One, Many, false);
    tag->RelateToType(node, One, Many, false);
    std::vector<Item*> groups, tags;
    for (size_t index = 0; index < groupCount; ++index)
    {
        groups.push_back(group->NewItem(Value(index)));
        tags.push_back(tag->NewItem(Value(index)));
    }
    std::mt19937 random(20130212);
    std::uniform_int_distribution<size_t> any(0, groupCount - 1);
    for (size_t index = 0; index < nodeCount; ++index)
    {
        const ItemPtr item = node->NewItem(Value(index));
        item += groups[any(random)];
        item += tags[any(random)];
    }
}

bool Sound()
{
    const ItemPtr probe = d.GetType("node")->HasItem(Value(nodeCount / 2));
    return g("node").Size() == nodeCount && g("group").Size() == groupCount && !probe.IsNull() &&
           !probe["group"].IsNull() && !probe["tag"].IsNull();
}

void PrintRow(const char* name, const Run& run, double minimumRate)
{
    const double rate = itemCount / run.seconds;
    const bool judged = minimumRate > 0;
    std::printf("%-22s %9.3f %9.3f %13.0f %14.1f %10s %6s\n", name, run.seconds, run.Median(), rate,
                run.peakRiseMb, judged ? (minimumRate >= 1.5e6 ? ">=1.5M/s" : ">=1M/s") : "-",
                judged ? (rate >= minimumRate ? "PASS" : "FAIL") : "-");
}
} // namespace

int main()
{
    QTemporaryDir folder;
    const QString prefix = folder.filePath(".vandrell");
    const long emptyKb = ResetPeakKb();
    Build();
    const double storeMb = (ResetPeakKb() - emptyKb) / 1024.0;
    DataSaver saver;
    for (const char* type : {"node", "group", "tag"})
        saver.AddSavedType(type);

    Run save, read, load;
    QString file;
    bool sound = true;
    for (int run = 0; run < runs; ++run)
    {
        Measure(save, [&] { saver.Save(prefix); });
        const QStringList files = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        file = folder.filePath(files.value(files.size() - 1)); // the newest: names grow with time
        Measure(read, [&] {
            QFile in(file);
            if (!in.open(QIODevice::ReadOnly) || in.readAll().size() != in.size())
                sound = false;
        });
        d.RemoveAllItems();
        Measure(load, [&] { saver.Load(prefix); });
        sound = sound && files.size() == run + 1 && Sound();
    }
    if (!sound)
        std::printf("CHECK FAILED: the loaded store differs from the saved one\n");
    const double fileMb = QFile(file).size() / 1048576.0;

    std::printf("%zu items, %zu connections; store resident %.1f MB; file %.1f MB; best and median "
                "of %d runs\n\n",
                itemCount, 2 * nodeCount, storeMb, fileMb, runs);
    std::printf("%-22s %9s %9s %13s %14s %10s %6s\n", "operation", "seconds", "median", "items/s",
                "peak rise MB", "target", "result");
    PrintRow("Save", save, 1e6);
    PrintRow("Load", load, 1.5e6);
    PrintRow("Read the bytes (floor)", read, 0);
    const double loadToSave = load.seconds / save.seconds;
    std::printf("\nload time: %.2fx the save time (target <=2x): %s\n", loadToSave,
                loadToSave <= 2 ? "PASS" : "FAIL");
    const double saveRatio = (storeMb + save.peakRiseMb) / storeMb;
    std::printf("peak while saving: %.2fx the store's own (target <=1.5x): %s\n", saveRatio,
                saveRatio <= 1.5 ? "PASS" : "FAIL");
    // The load starts from an empty store, so its rise holds the rebuilt store too.
    const double loadRatio = load.peakRiseMb / storeMb;
    std::printf("peak rise while loading: %.2fx the store's own (target <=1.5x): %s\n", loadRatio,
                loadRatio <= 1.5 ? "PASS" : "FAIL");
    return sound ? 0 : 1;
}
