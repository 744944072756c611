#pragma once

#include <cstddef>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class Item;

// The waiting uploads (queued, of users who are online and not unshared) in the order the last
// walk over the queue numbered them: an entry's place in the line is its number. Every started
// upload renumbers the whole queue, and writing tens of thousands of store connections for that
// held the window each time; so the numbers of the entries in the line live here, and an entry's
// number is written into the store when it leaves the line, or for every entry before the whole
// queue is ordered again from the store.
//
// What can change the waiting set between two walks reaches the line: status changes and
// numbers given outside a walk (Touch), removals (Forget), users who come online or are shared
// with again (Arrive, which touches their entries). Going offline or being unshared is read from
// the users at each walk.
class UploadLine
{
public:
    struct Waiting
    {
        long long number;
        Item* entry;
        Item* user;
    };

    // The number the entry holds: its place in the line, else the store's; -1 when it has none.
    long long NumberOf(Item* entry) const;
    void Touch(Item* entry);
    void Forget(Item* entry);
    void Arrive(Item* user);

    // The waiting entries by number, equal numbers in the store's item order (their addresses).
    // Entries that stopped waiting get the number they held written into the store.
    std::vector<Waiting> Gather();
    // The walk numbered these entries 0, 1, 2 and so on, in this order.
    void Replace(const std::vector<Waiting>& numbered);
    // Writes every number into the store and empties the line; the next walk reads the queue.
    void Flush();

    // Connects the entry to the number's item when it holds another one.
    static void WriteNumber(Item* entry, long long number);

private:
    struct Place
    {
        Item* entry;
        Item* user;
        bool recheck;
    };

    std::vector<Waiting> ReadQueue() const;
    std::vector<Waiting> Update();
    void Clear();

    bool valid = false;
    std::vector<Place> places;
    std::unordered_map<Item*, std::size_t> placeOf;
    std::unordered_set<Item*> touched;
};
