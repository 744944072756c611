#include "UploadLine.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <unordered_map>

#include "Data.h"
#include "ServerTypes.h"
#include "SharesTypes.h"
#include "TransferTypes.h"

using namespace TransferTypes;

namespace {
// The types a walk reads for every entry, looked up once per walk.
struct QueueTypes
{
    Type* entry = d.GetType(uploadEntry);
    Type* user = d.GetType(ServerTypes::user);
    Type* number = d.GetType(effectiveUploadOrder);
    Type* unshared = d.GetType(SharesTypes::unshared);
    Item* online = d.GetType(ServerTypes::isOnline)->GetGlobalNullItem();
    Item* queued = d.GetType(uploadEntryStatus)->HasItem(Value(TransferStatus::queued));
};

long long StoredNumber(Type* numberType, Item* entry)
{
    ItemPtr number = entry->HasItem(numberType);
    return number.IsNull() ? -1 : std::strtoll(number->value.Bytes().c_str(), nullptr, 10);
}

bool MayStart(const QueueTypes& types, Item* user)
{
    return user && user->IsConnected(types.online) && !user->IsConnected(types.unshared);
}

bool IsQueued(const QueueTypes& types, Item* entry)
{
    return types.queued && entry->IsConnected(types.queued);
}

bool Before(const UploadLine::Waiting& a, const UploadLine::Waiting& b)
{
    return a.number != b.number ? a.number < b.number : std::less<Item*>()(a.entry, b.entry);
}
} // namespace

long long UploadLine::NumberOf(Item* entry) const
{
    if (valid)
    {
        const auto place = placeOf.find(entry);
        if (place != placeOf.end())
            return static_cast<long long>(place->second);
    }
    return StoredNumber(d.GetType(effectiveUploadOrder), entry);
}

void UploadLine::Touch(Item* entry)
{
    if (!valid)
        return;
    const auto place = placeOf.find(entry);
    if (place != placeOf.end())
        places[place->second].recheck = true;
    else
        touched.insert(entry);
}

void UploadLine::Forget(Item* entry)
{
    touched.erase(entry);
    const auto place = placeOf.find(entry);
    if (place == placeOf.end())
        return;
    places[place->second].entry = nullptr;
    placeOf.erase(place);
}

void UploadLine::Arrive(Item* user)
{
    if (!valid)
        return;
    if (const ItemSet* entries = user->connections.ItemsOf(d.GetType(uploadEntry)))
        for (ItemPtr entry : *entries)
            Touch(entry);
}

std::vector<UploadLine::Waiting> UploadLine::Gather()
{
    std::vector<Waiting> waiting = valid ? Update() : ReadQueue();
    Clear();
    return waiting;
}

void UploadLine::Replace(const std::vector<Waiting>& numbered)
{
    Clear();
    places.reserve(numbered.size());
    placeOf.reserve(numbered.size());
    for (const Waiting& entry : numbered)
    {
        placeOf.emplace(entry.entry, places.size());
        places.push_back({entry.entry, entry.user, false});
    }
    valid = true;
}

void UploadLine::Flush()
{
    for (std::size_t index = 0; index < places.size(); ++index)
        if (places[index].entry)
            WriteNumber(places[index].entry, static_cast<long long>(index));
    Clear();
}

void UploadLine::Clear()
{
    valid = false;
    places.clear();
    // Fresh tables rather than clear(), whose cost follows the buckets a long line left behind,
    // and which runs at every walk.
    std::unordered_map<Item*, std::size_t>().swap(placeOf);
    std::unordered_set<Item*>().swap(touched);
}

void UploadLine::WriteNumber(Item* entry, long long number)
{
    Item* numberItem = d.GetType(effectiveUploadOrder)->GetItem(Value(number));
    if (entry->HasItem(numberItem->type) != numberItem)
        ItemPtr(entry).Connect(numberItem);
}

// Every queued entry of a user who may be sent files. Read from those users' entries when they
// are fewer than the queued ones, so that a long queue of offline users costs nothing; else from
// the queued entries, in address order, which keeps the reads close together in memory.
std::vector<UploadLine::Waiting> UploadLine::ReadQueue() const
{
    const QueueTypes types;
    std::vector<Waiting> waiting;
    const ItemSet* queuedEntries =
        types.queued ? types.queued->connections.ItemsOf(types.entry) : nullptr;
    const ItemSet* onlineUsers = types.online->connections.ItemsOf(types.user);
    if (!queuedEntries || !onlineUsers)
        return waiting;
    std::size_t reachable = 0;
    for (ItemPtr user : *onlineUsers)
        if (const ItemSet* entries = user->connections.ItemsOf(types.entry))
            reachable += entries->Size();
    auto consider = [&](Item* entry, Item* user) {
        const long long number = StoredNumber(types.number, entry);
        if (number >= 0)
            waiting.push_back({number, entry, user});
    };
    if (queuedEntries->Size() <= reachable)
    {
        for (ItemPtr entry : *queuedEntries)
        {
            Item* user = entry->HasItem(types.user);
            if (MayStart(types, user))
                consider(entry, user);
        }
    }
    else
    {
        for (ItemPtr user : *onlineUsers)
        {
            const ItemSet* entries = user->connections.ItemsOf(types.entry);
            if (!entries || user->IsConnected(types.unshared))
                continue;
            for (ItemPtr entry : *entries)
                if (IsQueued(types, entry))
                    consider(entry, user);
        }
    }
    std::sort(waiting.begin(), waiting.end(), Before);
    return waiting;
}

// The line as it stands, less what stopped waiting, merged with what started waiting.
std::vector<UploadLine::Waiting> UploadLine::Update()
{
    const QueueTypes types;
    std::unordered_map<Item*, bool> startable;
    auto mayStart = [&](Item* user) {
        const auto known = startable.try_emplace(user, false);
        if (known.second)
            known.first->second = MayStart(types, user);
        return known.first->second;
    };
    std::vector<Waiting> staying;
    staying.reserve(places.size());
    for (std::size_t index = 0; index < places.size(); ++index)
    {
        const Place& place = places[index];
        if (!place.entry)
            continue;
        const long long number = static_cast<long long>(index);
        if (mayStart(place.user) && (!place.recheck || IsQueued(types, place.entry)))
            staying.push_back({number, place.entry, place.user});
        else
            WriteNumber(place.entry, number);
    }
    std::vector<Waiting> joining;
    for (Item* entry : touched)
    {
        Item* user = entry->HasItem(types.user);
        if (!mayStart(user) || !IsQueued(types, entry))
            continue;
        const long long number = StoredNumber(types.number, entry);
        if (number >= 0)
            joining.push_back({number, entry, user});
    }
    std::sort(joining.begin(), joining.end(), Before);
    std::vector<Waiting> waiting;
    waiting.reserve(staying.size() + joining.size());
    std::merge(staying.begin(), staying.end(), joining.begin(), joining.end(),
               std::back_inserter(waiting), Before);
    return waiting;
}
