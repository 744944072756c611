// Saved store benchmark: saves and loads one million valued items with two million connections,
// beside the time to read the file's bytes alone. Times are the best and the median of five runs,
// on the clock and in processor time (which a busy machine disturbs less);
// memory figures come from the first. Targets are informational and judged on the best; only a
// loaded store that differs from the saved one, or a wrong number of kept files, fails the run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <malloc.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
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
    double cpuSeconds = 0; // the best processor time
    double peakRiseMb = 0;

    double Median() const
    {
        std::vector<double> sorted = all;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Runs the work, keeping the best time and the first peak.
template <class Work> void Measure(Run& run, Work work)
{
    const long residentKb = ResetPeakKb();
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double cpu = CpuSeconds() - cpuStart;
    if (run.cpuSeconds == 0 || cpu < run.cpuSeconds)
        run.cpuSeconds = cpu;
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

uint64_t Mix(uint64_t value)
{
    value ^= value >> 31;
    value *= 0x7fb5d329728ea185ULL;
    value ^= value >> 27;
    value *= 0x81dadef4bc2dd44dULL;
    return value ^ (value >> 33);
}

// An item as another store sees it: its type and its value, not its address.
uint64_t Key(const Item* item)
{
    const uint64_t name = std::hash<std::string>()(item->type->name);
    return Mix(name ^ Mix(std::hash<std::string>()(item->value.Bytes())));
}

// What a save of the saved types keeps, reduced to a few numbers that any difference in an item,
// a value or a connection changes. Sums of mixed keys do not depend on the order of the items or
// of their partners, which a load is free to change.
struct Digest
{
    size_t items = 0;
    size_t connections = 0; // seen from both ends
    uint64_t sum = 0;

    bool operator==(const Digest& other) const
    {
        return items == other.items && connections == other.connections && sum == other.sum;
    }
    bool operator!=(const Digest& other) const { return !(*this == other); }
};

Digest Describe(const std::vector<std::string>& savedTypes)
{
    Digest digest;
    for (const std::string& name : savedTypes)
        d.GetType(name)->GetItems().ForEach([&](ItemPtr item) {
            uint64_t partners = 0;
            for (const TypeItemsMap::Entry& entry : item->connections)
                entry.items.ForEach([&](ItemPtr partner) {
                    partners += Mix(Key(partner) + 1);
                    ++digest.connections;
                });
            ++digest.items;
            digest.sum += Mix(Key(item) ^ Mix(partners));
        });
    return digest;
}

// The saved files as the saver counts them: "<prefix>.<digits>".
int SavedFileCount(const QTemporaryDir& folder)
{
    const QRegularExpression saved(QStringLiteral("^\\.vandrell\\.[0-9]+$"));
    return int(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).filter(saved).size());
}

// A check that cannot fail proves nothing: moves one connection and changes one value, and tells
// whether each was noticed, putting the connection back in between.
bool NoticesDifferences(const std::vector<std::string>& savedTypes)
{
    const Digest loaded = Describe(savedTypes);
    const ItemPtr node = d.GetType("node")->HasItem(Value(nodeCount / 2));
    const ItemPtr group = node["group"];
    const ItemPtr otherGroup = d.GetType("group")->HasItem(Value(group.AsInt() == 0 ? 1 : 0));
    node += otherGroup; // one group per node: replaces the old one
    const bool movedNoticed = Describe(savedTypes) != loaded;
    node += group;
    const bool restored = Describe(savedTypes) == loaded;

    const ItemPtr tag = node["tag"];
    const ItemPtr renamed = d.GetType("node")->NewItem(Value(nodeCount + 7));
    node->Remove();
    renamed += group;
    renamed += tag;
    const bool valueNoticed = Describe(savedTypes) != loaded;
    return movedNoticed && restored && valueNoticed;
}

void PrintRow(const char* name, const Run& run, double minimumRate)
{
    const double rate = itemCount / run.seconds;
    const bool judged = minimumRate > 0;
    std::printf("%-22s %9.3f %9.3f %9.3f %13.0f %14.1f %10s %6s\n", name, run.seconds, run.Median(),
                run.cpuSeconds, rate, run.peakRiseMb,
                judged ? (minimumRate >= 1.5e6 ? ">=1.5M/s" : ">=1M/s") : "-",
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
    const std::vector<std::string> savedTypes = {"node", "group", "tag"};
    DataSaver saver;
    for (const std::string& type : savedTypes)
        saver.AddSavedType(type);
    const Digest built = Describe(savedTypes);

    Run save, read, load;
    QString file;
    bool sameStore = true, keptFiles = true;
    for (int run = 0; run < runs; ++run)
    {
        Measure(save, [&] { saver.Save(prefix); });
        keptFiles =
            keptFiles && SavedFileCount(folder) == std::min(run + 1, 1 + DataSaver::olderFilesKept);
        const QStringList files = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        file = folder.filePath(files.value(files.size() - 1)); // the newest: names grow with time
        Measure(read, [&] {
            QFile in(file);
            if (!in.open(QIODevice::ReadOnly) || in.readAll().size() != in.size())
                sameStore = false;
        });
        d.RemoveAllItems();
        Measure(load, [&] { saver.Load(prefix); });
        // Each save after the first writes the store the last load made.
        sameStore = sameStore && Describe(savedTypes) == built;
    }
    // Only a store as it was built has the probe's connections to move.
    const bool checked = !sameStore || NoticesDifferences(savedTypes);
    if (!sameStore)
        std::printf("CHECK FAILED: the loaded store differs from the saved one\n");
    if (!keptFiles)
        std::printf("CHECK FAILED: a save did not keep the new file and %d older ones\n",
                    DataSaver::olderFilesKept);
    if (!checked)
        std::printf("CHECK FAILED: the comparison missed a moved connection or a changed value\n");
    const bool sound = sameStore && keptFiles && checked;
    const double fileMb = QFile(file).size() / 1048576.0;

    std::printf("check: %zu items and %zu connection ends compared after each load: %s\n",
                built.items, built.connections, sameStore ? "same" : "DIFFERENT");
    std::printf("%zu items, %zu connections; store resident %.1f MB; file %.1f MB; best and median "
                "of %d runs\n\n",
                itemCount, 2 * nodeCount, storeMb, fileMb, runs);
    std::printf("%-22s %9s %9s %9s %13s %14s %10s %6s\n", "operation", "seconds", "median", "cpu s",
                "items/s", "peak rise MB", "target", "result");
    PrintRow("Save", save, 1e6);
    PrintRow("Load", load, 1.5e6);
    PrintRow("Read the bytes (floor)", read, 0);
    const double loadToSave = load.seconds / save.seconds;
    std::printf("\nload time: %.2fx the save time (target <=2x): %s\n", loadToSave,
                loadToSave <= 2 ? "PASS" : "FAIL");
    std::printf("in processor time: load %.0f items/s, %.2fx the save\n",
                itemCount / load.cpuSeconds, load.cpuSeconds / save.cpuSeconds);
    const double saveRatio = (storeMb + save.peakRiseMb) / storeMb;
    std::printf("peak while saving: %.2fx the store's own (target <=1.5x): %s\n", saveRatio,
                saveRatio <= 1.5 ? "PASS" : "FAIL");
    // The load starts from an empty store, so its rise holds the rebuilt store too.
    const double loadRatio = load.peakRiseMb / storeMb;
    std::printf("peak rise while loading: %.2fx the store's own (target <=1.5x): %s\n", loadRatio,
                loadRatio <= 1.5 ? "PASS" : "FAIL");
    return sound ? 0 : 1;
}
