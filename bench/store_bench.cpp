// Store benchmark: the item store against a plain hash map of partner vectors, on one million
// valued items with two connections each. Both sides run the same workload in turns and every
// figure is shown as the best and the median of five runs, so that the spread shows. Targets are
// informational and judged on the best; only a failed sanity check fails.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "Data.h"
#include "ProcessMemory.h"

namespace {
constexpr size_t nodeCount = 1000000;
constexpr size_t groupCount = 1000;
constexpr size_t sampleCount = 200000; // nodes per later operation; the samples are disjoint
constexpr int handlerCount = 10;
constexpr int runs = 5;
constexpr size_t nodeKind = 0, groupKind = 1, tagKind = 2, slotKind = 3;
const char* const typeNames[] = {"node", "group", "tag", "slot"};

bool checksPassed = true;

void Check(bool ok, const char* what)
{
    if (!ok)
        std::printf("CHECK FAILED: %s\n", what);
    checksPassed = checksPassed && ok;
}

template <class Work> double NsPerOp(size_t count, Work work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    benchmark::ClobberMemory();
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    return elapsed.count() / static_cast<double>(count);
}

// The random choices, shared by both sides.
struct Workload
{
    std::vector<Value> values; // node values: the decimal index
    std::vector<uint16_t> groupOf, tagOf;
    std::vector<uint32_t> lookups; // random existing nodes
    std::vector<uint32_t> picks;   // all nodes shuffled, cut into the samples below
    // Samples: nodes moved between two slots; removed and made again; ungrouped and regrouped.
    const uint32_t *held, *removed, *moved;

    Workload()
    {
        std::mt19937 random(20130212);
        std::uniform_int_distribution<uint32_t> anyGroup(0, groupCount - 1);
        std::uniform_int_distribution<uint32_t> anyNode(0, nodeCount - 1);
        for (size_t index = 0; index < nodeCount; ++index)
        {
            values.emplace_back(index);
            groupOf.push_back(static_cast<uint16_t>(anyGroup(random)));
            tagOf.push_back(static_cast<uint16_t>(anyGroup(random)));
            lookups.push_back(anyNode(random));
            picks.push_back(static_cast<uint32_t>(index));
        }
        std::shuffle(picks.begin(), picks.end(), random);
        held = picks.data();
        removed = held + sampleCount;
        moved = removed + sampleCount;
    }
};

struct Counter
{
    size_t calls = 0;
};

// Counts the store events it watches.
struct Probe : DataHandler, Counter
{
    template <class T> void Watch(Event<T>& event) { Listen(event, this, &Probe::Count<T>); }
    template <class T> void Count(T) { ++calls; }
};

// Group and tag are "one per node, many nodes each"; slot is one-to-one, so connecting a node to
// a slot replaces its old one.
struct StoreSide
{
    StoreSide()
    {
        for (size_t kind = 0; kind < types.size(); ++kind)
            types[kind] = store.NewType(typeNames[kind], PrimacyRoot, false, false);
        ping = store.NewType("ping", PrimacyRoot, true, false);
        pinged = ping->NewItem();
        types[groupKind]->RelateToType(types[nodeKind], One, Many, false);
        types[tagKind]->RelateToType(types[nodeKind], One, Many, false);
        types[nodeKind]->RelateToType(types[slotKind], One, One, false);
        dropped.Watch(types[slotKind]->disconnected);
        for (Probe& probe : heard)
            probe.Watch(ping->itemAdded);
    }

    Item* Make(size_t kind, const Value& value) { return types[kind]->NewItem(value); }
    Item* Find(const Value& value) { return types[nodeKind]->HasItem(value); }
    void Connect(Item* a, Item* b) { a->Connect(b); }
    void Replace(Item* a, Item* b) { a->Connect(b); }
    void Disconnect(Item* a, Item* b) { a->Disconnect(b); }
    void Remove(Item* a, const Value&) { a->Remove(); }
    void Notify() { ping->itemAdded.Notify(ItemPtr(pinged)); }
    void WatchPath()
    {
        auto* root = new PathNode(&store, typeNames[nodeKind]);
        new PathNode(root, typeNames[groupKind], PathRequired); // owned by the root
        store.AddPathHandler(root, &reached, &Probe::Count<ItemPtr>);
    }

    size_t Count() const { return types[nodeKind]->ItemCount(); }
    // Counts partner types, which here hold one partner each.
    size_t Partners(Item* a) const { return a->connections.Size(); }

    Data store;
    std::array<Type*, 4> types{};
    Type* ping = nullptr;
    Item* pinged = nullptr;
    // After the store: handler owners must go before the events that hold their handlers.
    Probe dropped, reached;
    std::array<Probe, handlerCount> heard;
    std::vector<Item*> groups, tags, slotItems, nodes;
};

struct Node
{
    std::vector<Node*> partners;
    bool isSlot = false;
};

// Per kind, a hash map from value to a node that lists its partners; handlers are std::function.
struct BaselineSide
{
    BaselineSide()
    {
        for (Counter& counter : heard)
            listeners.emplace_back([&counter](Node*) { ++counter.calls; });
    }

    Node* Make(size_t kind, const Value& value)
    {
        Node* made = &maps[kind][value.Bytes()];
        made->isSlot = kind == slotKind;
        return made;
    }
    Node* Find(const Value& value)
    {
        auto found = maps[nodeKind].find(value.Bytes());
        return found == maps[nodeKind].end() ? nullptr : &found->second;
    }
    // The only connections made after the path registration are nodes gaining a group.
    void Connect(Node* a, Node* b)
    {
        a->partners.push_back(b);
        b->partners.push_back(a);
        if (onPath)
            onPath(a);
    }
    void Replace(Node* a, Node* b)
    {
        for (Node* old : a->partners)
            if (old->isSlot)
            {
                Disconnect(a, old); // changes a->partners, so leave the loop at once
                onDropped(old);
                break;
            }
        Connect(a, b);
    }
    void Disconnect(Node* a, Node* b)
    {
        Drop(a->partners, b);
        Drop(b->partners, a);
    }
    void Remove(Node* a, const Value& value)
    {
        for (Node* partner : a->partners)
            Drop(partner->partners, a);
        maps[nodeKind].erase(value.Bytes());
    }
    void Notify()
    {
        for (const auto& listener : listeners)
            listener(nullptr);
    }
    void WatchPath()
    {
        onPath = [this](Node*) { ++reached.calls; };
    }

    size_t Count() const { return maps[nodeKind].size(); }
    size_t Partners(Node* a) const { return a->partners.size(); }
    // Partner order carries no meaning, so the last partner fills the gap.
    static void Drop(std::vector<Node*>& partners, Node* partner)
    {
        auto found = std::find(partners.begin(), partners.end(), partner);
        if (found == partners.end())
            return;
        *found = partners.back();
        partners.pop_back();
    }

    std::array<std::unordered_map<std::string, Node>, 4> maps;
    Counter dropped, reached;
    std::array<Counter, handlerCount> heard;
    std::vector<std::function<void(Node*)>> listeners;
    std::function<void(Node*)> onDropped = [this](Node*) { ++dropped.calls; }, onPath;
    std::vector<Node*> groups, tags, slotItems, nodes;
};

template <class Side> void Attach(Side& side, const Workload& work, size_t index)
{
    side.Connect(side.nodes[index], side.groups[work.groupOf[index]]);
    side.Connect(side.nodes[index], side.tags[work.tagOf[index]]);
}

// The times of one operation over the runs.
struct Samples
{
    std::vector<double> values;

    void Add(double value) { values.push_back(value); }
    double Best() const { return *std::min_element(values.begin(), values.end()); }
    double Median() const
    {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

struct Row
{
    Samples store, base;
    double Ratio() const { return store.Best() / base.Best(); }
};

struct Memory
{
    double heapPerNode = 0, peakPerNode = 0;
    long processPeakKb = 0, processResidentKb = 0;
};

// Builds a side afresh, keeping the best times. With `memory`, measures the build's heap and
// resident growth; the heap is trimmed and the resident peak reset first, so the peak is this
// build's own rise, whatever the process held before.
template <class Side>
void Build(std::unique_ptr<Side>& side, const Workload& work, Samples& newItem, Samples& connect,
           Memory* memory)
{
    side.reset();
    side = std::make_unique<Side>();
    for (size_t index = 0; index < groupCount; ++index)
    {
        side->groups.push_back(side->Make(groupKind, Value(index)));
        side->tags.push_back(side->Make(tagKind, Value(index)));
    }
    for (size_t index = 0; index < 2 * sampleCount; ++index)
        side->slotItems.push_back(side->Make(slotKind, Value(index)));
    side->nodes.reserve(nodeCount);

    // The kernel's resident counters are approximate, so the peak restarts near VmRSS.
    const long residentKb = memory ? ResetPeakKb() : 0, peakBefore = StatusKb("VmHWM:");
    const bool peakReset = peakBefore <= residentKb + 4096;
    const double heapBefore = static_cast<double>(mallinfo2().uordblks);
    newItem.Add(NsPerOp(nodeCount, [&] {
        for (const Value& value : work.values)
            side->nodes.push_back(side->Make(nodeKind, value));
    }));
    connect.Add(NsPerOp(2 * nodeCount, [&] {
        for (size_t index = 0; index < nodeCount; ++index)
            Attach(*side, work, index);
    }));
    if (!memory)
        return;
    memory->heapPerNode = (static_cast<double>(mallinfo2().uordblks) - heapBefore) / nodeCount;
    memory->processPeakKb = StatusKb("VmHWM:");
    memory->processResidentKb = StatusKb("VmRSS:");
    // Without a reset an older, higher peak would hide this one; the heap figure stands in.
    memory->peakPerNode =
        peakReset ? (memory->processPeakKb - peakBefore) * 1024.0 / nodeCount : memory->heapPerNode;
}

template <class Side> bool Sound(Side& side, const Workload& work)
{
    const uint32_t probe = work.lookups[0];
    return side.Count() == nodeCount && side.Find(work.values[probe]) == side.nodes[probe] &&
           side.Partners(side.nodes[work.removed[0]]) == 2 &&
           side.Partners(side.nodes[work.moved[0]]) == 2 && side.Partners(side.slotItems[0]) == 0 &&
           side.dropped.calls == runs * sampleCount && side.reached.calls == runs * sampleCount &&
           side.heard.back().calls == runs * nodeCount;
}

void PrintRow(const char* name, const Row& row, const char* target = nullptr, double limit = 0)
{
    const char* result = row.Ratio() <= limit ? "PASS" : "FAIL";
    std::printf("%-34s %9.1f %9.1f %9.1f %9.1f %7.2fx %7.2fx %7s %6s\n", name, row.store.Best(),
                row.store.Median(), row.base.Best(), row.base.Median(), row.Ratio(),
                row.store.Median() / row.base.Median(), target ? target : "-",
                target ? result : "-");
}

void PrintMemoryRow(const char* name, double store, double base, const char* target = nullptr,
                    bool pass = false)
{
    std::printf("%-34s %9.1f %9.1f %7.2fx %7s %6s\n", name, store, base, store / base,
                target ? target : "-", target ? (pass ? "PASS" : "FAIL") : "-");
}
} // namespace

int main()
{
    const Workload work;
    // The sides are built in turns too. The memory figures come from the first builds, made on a
    // heap without freed memory to reuse; the last builds stay for the later rows.
    std::unique_ptr<StoreSide> store;
    std::unique_ptr<BaselineSide> base;
    Row newItem, connect;
    Memory storeMemory, baseMemory;
    for (int run = 0; run < runs; ++run)
    {
        Build(store, work, newItem.store, connect.store, run == 0 ? &storeMemory : nullptr);
        Build(base, work, newItem.base, connect.base, run == 0 ? &baseMemory : nullptr);
    }

    // Each operation runs on each side in turn, so that a burst of load elsewhere on the machine
    // tends to hit both.
    const auto both = [&](auto operation) { operation(*store), operation(*base); };
    const auto race = [&](Row& row, size_t count, auto operation) {
        row.store.Add(NsPerOp(count, [&] { operation(*store); }));
        row.base.Add(NsPerOp(count, [&] { operation(*base); }));
    };
    // Applies operation(side, node, i) to the i-th node of a sample, for every i.
    const auto each = [](const uint32_t* sample, auto operation) {
        return [sample, operation](auto& side) {
            for (size_t index = 0; index < sampleCount; ++index)
                operation(side, sample[index], index);
        };
    };
    const auto moveSlots = [&work, &each](size_t half) {
        return each(work.held, [half](auto& side, uint32_t node, size_t index) {
            side.Replace(side.nodes[node], side.slotItems[half * sampleCount + index]);
        });
    };
    const auto removeNodes = each(work.removed, [&work](auto& side, uint32_t node, size_t) {
        side.Remove(side.nodes[node], work.values[node]);
    });
    const auto restoreNodes = each(work.removed, [&work](auto& side, uint32_t node, size_t) {
        side.nodes[node] = side.Make(nodeKind, work.values[node]);
        Attach(side, work, node);
    });
    const auto ungroup = each(work.moved, [&work](auto& side, uint32_t node, size_t) {
        side.Disconnect(side.nodes[node], side.groups[work.groupOf[node]]);
    });
    const auto regroup = each(work.moved, [&work](auto& side, uint32_t node, size_t) {
        side.Connect(side.nodes[node], side.groups[work.groupOf[node]]);
    });

    Row lookup, replace, remove, dispatch, disconnect, reconnect, path;
    for (int run = 0; run < runs; ++run)
        race(lookup, nodeCount, [&work](auto& side) {
            for (uint32_t index : work.lookups)
                benchmark::DoNotOptimize(side.Find(work.values[index]));
        });
    both(moveSlots(0));
    for (int run = 1; run <= runs; ++run)
        race(replace, sampleCount, moveSlots(run % 2));
    for (int run = 0; run < runs; ++run)
    {
        race(remove, sampleCount, removeNodes);
        both([](auto& side) {
            Check(side.Count() == nodeCount - sampleCount, "count after remove");
        });
        both(restoreNodes);
    }
    for (int run = 0; run < runs; ++run)
        race(dispatch, nodeCount, [](auto& side) {
            for (size_t index = 0; index < nodeCount; ++index)
                side.Notify();
        });
    // The path registration comes last: any node gaining a group after it fires it.
    for (int run = 0; run < 2 * runs; ++run)
    {
        if (run == runs)
            both([](auto& side) { side.WatchPath(); });
        race(disconnect, sampleCount, ungroup);
        race(run < runs ? reconnect : path, sampleCount, regroup);
    }
    both([&work](auto& side) { Check(Sound(side, work), "state after the runs"); });

    std::printf("%zu nodes, %zu connections; later rows: %zu random nodes; ns/op, best and "
                "median of %d runs; ratios of the bests and of the medians, targets on the "
                "bests\n\n",
                nodeCount, 2 * nodeCount, sampleCount, runs);
    std::printf("%-34s %9s %9s %9s %9s %8s %8s %7s %6s\n", "operation", "store", "median", "base",
                "median", "ratio", "median", "target", "result");
    PrintRow("NewItem", newItem, "<=1.5x", 1.5);
    PrintRow("Connect one-to-many (build)", connect, "<=3x", 3);
    PrintRow("Lookup by value (HasItem)", lookup, "<=3x", 3);
    PrintRow("Connect one-to-one, replacing", replace, "<=3x", 3);
    PrintRow("Remove (item with 2 connections)", remove);
    PrintRow("Dispatch to 10 handlers", dispatch);
    PrintRow("Disconnect (node from group)", disconnect);
    PrintRow("Connect again, random order", reconnect);
    PrintRow("Connect again, firing a path", path);

    std::printf("\n");
    std::printf("%-34s %9s %9s %8s %7s %6s\n", "bytes per node, 2 connections", "store", "base",
                "ratio", "target", "result");
    PrintMemoryRow("heap in use (malloc)", storeMemory.heapPerNode, baseMemory.heapPerNode);
    PrintMemoryRow("peak resident (VmHWM rise)", storeMemory.peakPerNode, baseMemory.peakPerNode,
                   "<=250", storeMemory.peakPerNode <= 250);
    std::printf("process after the store build:    VmHWM %ld kB, VmRSS %ld kB\n"
                "process after the baseline build: VmHWM %ld kB, VmRSS %ld kB\n",
                storeMemory.processPeakKb, storeMemory.processResidentKb, baseMemory.processPeakKb,
                baseMemory.processResidentKb);
    return checksPassed ? 0 : 1;
}
