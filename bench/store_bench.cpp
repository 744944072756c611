// Store benchmark: the item store against a plain hash map of partner vectors, on one million
// valued items with two connections each. One workload drives both through the same primitives;
// one run prints one table; every figure is the best of a few runs. The targets are informational
// and never change the exit status (only a failed sanity check does).

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <malloc.h>

#include <benchmark/benchmark.h>

#include "Data.h"

namespace {
constexpr size_t nodeCount = 1000000;
constexpr size_t groupCount = 1000;
constexpr size_t sampleCount = 200000; // nodes per later operation; the samples are disjoint
constexpr int handlerCount = 10;
constexpr int runs = 3;

enum Kind
{
    NodeKind,
    GroupKind,
    TagKind,
    SlotKind
};
const char* const typeNames[] = {"node", "group", "tag", "slot"};
const char* const pingTypeName = "ping";

bool checksPassed = true;

void Check(bool ok, const char* what)
{
    if (ok)
        return;
    std::printf("CHECK FAILED: %s\n", what);
    checksPassed = false;
}

// Nanoseconds per operation of one run of `work`, which performs `count` operations.
template <class Work> double NsPerOp(size_t count, Work work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    benchmark::ClobberMemory();
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    return elapsed.count() / static_cast<double>(count);
}

long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::strlen(field), field) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return 0;
}

// Heap and resident growth of one build. The heap is trimmed and the resident peak reset first,
// so the peak is this build's own rise, whatever the process held before.
class MemoryProbe
{
public:
    void Start()
    {
        malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        // The kernel's resident counters are approximate, so the peak starts near, not at, VmRSS.
        peakBefore = StatusKb("VmHWM:");
        peakReset = peakBefore <= StatusKb("VmRSS:") + 4096;
        heapBefore = static_cast<double>(mallinfo2().uordblks);
    }

    void Stop(size_t items)
    {
        heapPerItem = (static_cast<double>(mallinfo2().uordblks) - heapBefore) / items;
        processPeakKb = StatusKb("VmHWM:");
        processResidentKb = StatusKb("VmRSS:");
        // Without a reset an older, higher peak would hide this one; the heap figure stands in.
        peakPerItem = peakReset ? (processPeakKb - peakBefore) * 1024.0 / items : heapPerItem;
    }

    double heapPerItem = 0;
    double peakPerItem = 0;
    long processPeakKb = 0;
    long processResidentKb = 0;

private:
    double heapBefore = 0;
    long peakBefore = 0;
    bool peakReset = false;
};

// The random choices, shared by both sides.
struct Workload
{
    std::vector<Value> values; // node values: the decimal index
    std::vector<uint16_t> groupOf, tagOf;
    std::vector<uint32_t> lookups;     // random existing nodes
    std::vector<uint32_t> picks;       // all nodes shuffled, cut into the samples below
    const uint32_t* held = nullptr;    // nodes moved between two slots
    const uint32_t* removed = nullptr; // nodes removed and made again
    const uint32_t* moved = nullptr;   // nodes disconnected from their group and connected again

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

// Counts the store events it receives.
class Probe : public DataHandler
{
public:
    void Watch(Event<ItemPtr>& event) { Listen(event, this, &Probe::OnItem); }
    void Watch(Event<ConnectionInfo>& event) { Listen(event, this, &Probe::OnConnection); }
    void OnItem(ItemPtr) { ++calls; }
    void OnConnection(ConnectionInfo) { ++calls; }

    size_t calls = 0;
};

// The item store: group and tag are "one per node, many nodes each", slot is one-to-one.
class StoreSide
{
public:
    using Handle = Item*;

    StoreSide()
    {
        types[GroupKind]->RelateToType(types[NodeKind], One, Many, false);
        types[TagKind]->RelateToType(types[NodeKind], One, Many, false);
        types[NodeKind]->RelateToType(types[SlotKind], One, One, false);
        dropped.Watch(types[SlotKind]->disconnected);
        for (Probe& listener : listeners)
            listener.Watch(ping->itemAdded);
    }

    Item* Make(Kind kind, const Value& value) { return types[kind]->NewItem(value); }
    Item* Find(const Value& value) { return types[NodeKind]->HasItem(value); }
    void Connect(Item* a, Item* b) { a->Connect(b); }
    void Replace(Item* a, Item* b) { a->Connect(b); }
    void Disconnect(Item* a, Item* b) { a->Disconnect(b); }
    void Remove(Item* a, const Value&) { a->Remove(); }
    void Notify() { ping->itemAdded.Notify(ItemPtr(pinged)); }
    void WatchPath()
    {
        auto* root = new PathNode(&store, typeNames[NodeKind]);
        new PathNode(root, typeNames[GroupKind], PathRequired); // owned by the root
        store.AddPathHandler(root, &reached, &Probe::OnItem);
    }

    size_t Count() const { return types[NodeKind]->ItemCount(); }
    // Partner types; each holds one partner here.
    size_t Partners(Item* a) const { return a->connections.Size(); }
    size_t Dropped() const { return dropped.calls; }
    size_t Reached() const { return reached.calls; }
    size_t Notified() const { return listeners.back().calls; }

private:
    Data store;
    std::array<Type*, 4> types = {store.NewType(typeNames[0], PrimacyRoot, false, false),
                                  store.NewType(typeNames[1], PrimacyRoot, false, false),
                                  store.NewType(typeNames[2], PrimacyRoot, false, false),
                                  store.NewType(typeNames[3], PrimacyRoot, false, false)};
    Type* ping = store.NewType(pingTypeName, PrimacyRoot, true, false);
    Item* pinged = ping->NewItem();
    // After the store: handler owners must go before the events that hold their handlers.
    Probe dropped, reached;
    std::array<Probe, handlerCount> listeners;
};

// The baseline: per kind, a hash map from value to a node that lists its partners.
struct Node
{
    std::vector<Node*> partners;
    bool isSlot = false;
};

// Partner order carries no meaning, so the last partner fills the gap.
void Drop(std::vector<Node*>& partners, Node* partner)
{
    auto found = std::find(partners.begin(), partners.end(), partner);
    if (found == partners.end())
        return;
    *found = partners.back();
    partners.pop_back();
}

class BaselineSide
{
public:
    using Handle = Node*;
    using Handler = std::function<void(Node*)>;

    BaselineSide()
    {
        for (size_t& calls : listenerCalls)
            listeners.emplace_back([&calls](Node*) { ++calls; });
        onDropped = [this](Node*) { ++dropped; };
    }

    Node* Make(Kind kind, const Value& value)
    {
        Node* made = &maps[kind].try_emplace(value.Bytes()).first->second;
        made->isSlot = kind == SlotKind;
        return made;
    }
    Node* Find(const Value& value)
    {
        auto found = maps[NodeKind].find(value.Bytes());
        return found == maps[NodeKind].end() ? nullptr : &found->second;
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
        auto old = std::find_if(a->partners.begin(), a->partners.end(),
                                [](Node* partner) { return partner->isSlot; });
        if (old != a->partners.end())
        {
            Node* previous = *old;
            Disconnect(a, previous);
            onDropped(previous);
        }
        Connect(a, b);
    }
    void Disconnect(Node* a, Node* b)
    {
        Drop(a->partners, b);
        Drop(b->partners, a);
    }
    void Remove(Node*, const Value& value)
    {
        auto found = maps[NodeKind].find(value.Bytes());
        if (found == maps[NodeKind].end())
            return;
        for (Node* partner : found->second.partners)
            Drop(partner->partners, &found->second);
        maps[NodeKind].erase(found);
    }
    void Notify()
    {
        for (const Handler& listener : listeners)
            listener(nullptr);
    }
    void WatchPath()
    {
        onPath = [this](Node*) { ++reached; };
    }

    size_t Count() const { return maps[NodeKind].size(); }
    size_t Partners(Node* a) const { return a->partners.size(); }
    size_t Dropped() const { return dropped; }
    size_t Reached() const { return reached; }
    size_t Notified() const { return listenerCalls.back(); }

private:
    std::array<std::unordered_map<std::string, Node>, 4> maps;
    std::array<size_t, handlerCount> listenerCalls{};
    std::vector<Handler> listeners;
    Handler onDropped, onPath;
    size_t dropped = 0, reached = 0;
};

// The workload, written once for both sides.
template <class Side> class Runner
{
public:
    explicit Runner(const Workload& work) : work(work)
    {
        for (size_t index = 0; index < groupCount; ++index)
        {
            groups.push_back(side.Make(GroupKind, Value(index)));
            tags.push_back(side.Make(TagKind, Value(index)));
        }
        for (size_t index = 0; index < 2 * sampleCount; ++index)
            slotItems.push_back(side.Make(SlotKind, Value(index)));
        nodes.reserve(nodeCount);
    }

    void MakeNodes()
    {
        for (const Value& value : work.values)
            nodes.push_back(side.Make(NodeKind, value));
    }
    void ConnectNodes()
    {
        for (size_t index = 0; index < nodeCount; ++index)
            Attach(index);
    }
    void Lookup()
    {
        for (uint32_t index : work.lookups)
            benchmark::DoNotOptimize(side.Find(work.values[index]));
    }
    void MoveSlots(int half)
    {
        for (size_t index = 0; index < sampleCount; ++index)
            side.Replace(nodes[work.held[index]], slotItems[half * sampleCount + index]);
    }
    void Remove()
    {
        for (size_t index = 0; index < sampleCount; ++index)
            side.Remove(nodes[work.removed[index]], work.values[work.removed[index]]);
    }
    void Restore()
    {
        for (size_t index = 0; index < sampleCount; ++index)
        {
            nodes[work.removed[index]] = side.Make(NodeKind, work.values[work.removed[index]]);
            Attach(work.removed[index]);
        }
    }
    void Disconnect()
    {
        for (size_t index = 0; index < sampleCount; ++index)
            side.Disconnect(nodes[work.moved[index]], groups[work.groupOf[work.moved[index]]]);
    }
    void Reconnect()
    {
        for (size_t index = 0; index < sampleCount; ++index)
            side.Connect(nodes[work.moved[index]], groups[work.groupOf[work.moved[index]]]);
    }
    void WatchPath() { side.WatchPath(); }
    void Dispatch()
    {
        for (size_t index = 0; index < nodeCount; ++index)
            side.Notify();
    }

    size_t Count() const { return side.Count(); }
    bool Sound()
    {
        const uint32_t probe = work.lookups[0];
        return Count() == nodeCount && side.Find(work.values[probe]) == nodes[probe] &&
               side.Partners(nodes[work.removed[0]]) == 2 &&
               side.Partners(nodes[work.moved[0]]) == 2 && side.Partners(slotItems[0]) == 0 &&
               side.Dropped() == runs * sampleCount && side.Reached() == runs * sampleCount &&
               side.Notified() == runs * nodeCount;
    }

private:
    void Attach(size_t index)
    {
        side.Connect(nodes[index], groups[work.groupOf[index]]);
        side.Connect(nodes[index], tags[work.tagOf[index]]);
    }

    const Workload& work;
    Side side;
    std::vector<typename Side::Handle> groups, tags, slotItems, nodes;
};

struct Row
{
    double store = 0;
    double base = 0;
};

void KeepBest(double& best, double measured)
{
    best = best == 0 ? measured : std::min(best, measured);
}

// Builds a side afresh: makes the nodes and connects them, keeping the best times so far.
template <class Side>
void Build(std::unique_ptr<Runner<Side>>& runner, const Workload& work, double& newItem,
           double& connect, MemoryProbe* memory)
{
    runner.reset();
    runner = std::make_unique<Runner<Side>>(work);
    if (memory)
        memory->Start();
    KeepBest(newItem, NsPerOp(nodeCount, [&] { runner->MakeNodes(); }));
    KeepBest(connect, NsPerOp(2 * nodeCount, [&] { runner->ConnectNodes(); }));
    if (memory)
        memory->Stop(nodeCount);
}

// Runs one operation on each side in turn, so that a burst of load elsewhere on the machine
// tends to hit both; over several runs, the best time of each side is kept.
template <class Operation>
void Race(Row& row, size_t count, Runner<StoreSide>& store, Runner<BaselineSide>& base,
          Operation operation)
{
    KeepBest(row.store, NsPerOp(count, [&] { operation(store); }));
    KeepBest(row.base, NsPerOp(count, [&] { operation(base); }));
}

void PrintRow(const char* operation, const Row& row, double target)
{
    const double ratio = row.store / row.base;
    std::printf("%-34s %11.1f %11.1f %7.2fx", operation, row.store, row.base, ratio);
    if (target > 0)
        std::printf("   <=%.0fx  %s\n", target, ratio <= target ? "PASS" : "FAIL");
    else
        std::printf("       -     -\n");
}
} // namespace

int main()
{
    const Workload work;
    // The sides are built in turns too. The memory figures come from the first builds, made on a
    // heap without freed memory to reuse; the last builds stay for the later rows.
    std::unique_ptr<Runner<StoreSide>> storeRunner;
    std::unique_ptr<Runner<BaselineSide>> baseRunner;
    Row newItem, connect;
    MemoryProbe storeMemory, baseMemory;
    for (int run = 0; run < runs; ++run)
    {
        Build(storeRunner, work, newItem.store, connect.store, run == 0 ? &storeMemory : nullptr);
        Build(baseRunner, work, newItem.base, connect.base, run == 0 ? &baseMemory : nullptr);
    }
    Runner<StoreSide>& store = *storeRunner;
    Runner<BaselineSide>& base = *baseRunner;

    Row lookup, replace, remove, disconnect, reconnect, path, dispatch;
    for (int run = 0; run < runs; ++run)
        Race(lookup, nodeCount, store, base, [](auto& side) { side.Lookup(); });
    store.MoveSlots(0);
    base.MoveSlots(0);
    for (int run = 1; run <= runs; ++run)
        Race(replace, sampleCount, store, base, [run](auto& side) { side.MoveSlots(run % 2); });
    for (int run = 0; run < runs; ++run)
    {
        Race(remove, sampleCount, store, base, [](auto& side) { side.Remove(); });
        Check(store.Count() == nodeCount - sampleCount, "store remove");
        Check(base.Count() == nodeCount - sampleCount, "baseline remove");
        store.Restore();
        base.Restore();
    }
    for (int run = 0; run < runs; ++run)
        Race(dispatch, nodeCount, store, base, [](auto& side) { side.Dispatch(); });
    // The path registration comes last: any node gaining a group after it fires it.
    for (int run = 0; run < 2 * runs; ++run)
    {
        if (run == runs)
        {
            store.WatchPath();
            base.WatchPath();
        }
        Race(disconnect, sampleCount, store, base, [](auto& side) { side.Disconnect(); });
        Race(run < runs ? reconnect : path, sampleCount, store, base,
             [](auto& side) { side.Reconnect(); });
    }
    Check(store.Sound(), "store state after the runs");
    Check(base.Sound(), "baseline state after the runs");

    std::printf("%zu nodes, %zu connections; later rows: %zu random nodes; best of %d runs\n\n",
                nodeCount, 2 * nodeCount, sampleCount, runs);
    std::printf("%-34s %11s %11s %8s %7s %5s\n", "operation", "store ns/op", "base ns/op", "ratio",
                "target", "result");
    PrintRow("NewItem", newItem, 0);
    PrintRow("Connect one-to-many (build)", connect, 4);
    PrintRow("Lookup by value (HasItem)", lookup, 3);
    PrintRow("Connect one-to-one, replacing", replace, 4);
    PrintRow("Remove (item with 2 connections)", remove, 0);
    PrintRow("Dispatch to 10 handlers", dispatch, 0);
    PrintRow("Disconnect (node from group)", disconnect, 0);
    PrintRow("Connect again, random order", reconnect, 0);
    PrintRow("Connect again, firing a path", path, 0);

    std::printf("\n%-34s %11s %11s %8s %7s %5s\n", "bytes per node, 2 connections", "store", "base",
                "ratio", "target", "result");
    std::printf("%-34s %11.1f %11.1f %7.2fx       -     -\n", "heap in use (malloc)",
                storeMemory.heapPerItem, baseMemory.heapPerItem,
                storeMemory.heapPerItem / baseMemory.heapPerItem);
    std::printf("%-34s %11.1f %11.1f %7.2fx    <=250  %s\n", "peak resident (VmHWM rise)",
                storeMemory.peakPerItem, baseMemory.peakPerItem,
                storeMemory.peakPerItem / baseMemory.peakPerItem,
                storeMemory.peakPerItem <= 250 ? "PASS" : "FAIL");
    std::printf("process after the store build:    VmHWM %ld kB, VmRSS %ld kB\n",
                storeMemory.processPeakKb, storeMemory.processResidentKb);
    std::printf("process after the baseline build: VmHWM %ld kB, VmRSS %ld kB\n",
                baseMemory.processPeakKb, baseMemory.processResidentKb);
    return checksPassed ? 0 : 1;
}
