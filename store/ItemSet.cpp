#include "ItemSet.h"

#include <functional>
#include <map>
#include <utility>

#include <QString>

#include "Data.h"
#include "ExtendedAsciiTranslator.h"
#include "Item.h"

// The low bit of a set's word tells storage from a member: both must leave it free.
static_assert(alignof(Item) > 1 && alignof(ItemBlocks) > 1);

ItemSet::Iterator::Iterator(const ItemSet* set, State state, ItemBlocks::Position node)
    : state(state), node(node), set(set)
{}

void ItemSet::Iterator::Normalize()
{
    if (state == AtEnd || !set->Many())
        return;
    state = (node.block == 0 && node.index == 0) ? First : Later;
}

ItemSet::Iterator& ItemSet::Iterator::operator++()
{
    if (state == AtEnd)
        return *this;
    ItemBlocks* many = set->Many();
    if (!many || !many->Next(node))
    {
        state = AtEnd;
        node = {};
        return *this;
    }
    Normalize();
    return *this;
}

ItemSet::Iterator ItemSet::Iterator::operator++(int)
{
    Iterator previous = *this;
    ++*this;
    return previous;
}

ItemPtr ItemSet::Iterator::Item() const
{
    if (state == AtEnd)
        return ItemPtr();
    if (ItemBlocks* many = set->Many())
        return many->At(node);
    return set->Single();
}

bool ItemSet::Iterator::operator==(const Iterator& other) const
{
    if (set != other.set || state != other.state)
        return false;
    return state != Later || node == other.node;
}

ItemSet::ItemSet(ItemPtr item)
{
    SetSingle(item);
}

ItemSet::ItemSet(const ItemSet& other) : bits(other.bits)
{
    if (ItemBlocks* many = other.Many())
        SetMany(new ItemBlocks(*many));
}

ItemSet::ItemSet(ItemSet&& other) noexcept : bits(other.bits)
{
    other.bits = 0;
}

ItemSet& ItemSet::operator=(const ItemSet& other)
{
    if (this != &other)
        *this = ItemSet(other);
    return *this;
}

ItemSet& ItemSet::operator=(ItemSet&& other) noexcept
{
    std::swap(bits, other.bits);
    return *this;
}

ItemSet::~ItemSet()
{
    delete Many();
}

ItemSet::Iterator ItemSet::Begin() const
{
    return Iterator(this, Empty() ? Iterator::AtEnd : Iterator::First);
}

size_t ItemSet::Size() const
{
    if (ItemBlocks* many = Many())
        return many->Size();
    return bits == 0 ? 0 : 1;
}

ItemSet::Iterator ItemSet::Find(ItemPtr item) const
{
    if (ItemBlocks* many = Many())
    {
        Iterator found(this, Iterator::Later);
        if (!many->Find(item, found.node))
            return End();
        found.Normalize();
        return found;
    }
    if (bits != 0 && Single() == item.Get())
        return Begin();
    return End();
}

bool ItemSet::Contains(ItemPtr item) const
{
    if (ItemBlocks* many = Many())
        return many->Contains(item);
    return bits != 0 && Single() == item.Get();
}

ItemSet::operator ItemPtr() const
{
    ItemBlocks* many = Many();
    return many ? many->First() : Single();
}

void ItemSet::Insert(ItemPtr item)
{
    if (ItemBlocks* many = Many())
    {
        many->Insert(item);
        return;
    }
    if (bits == 0)
    {
        SetSingle(item);
        return;
    }
    if (Single() == item.Get())
        return;
    auto* many = new ItemBlocks;
    many->Insert(Single());
    many->Insert(item);
    SetMany(many);
}

void ItemSet::Erase(ItemPtr item)
{
    ItemBlocks* many = Many();
    if (!many)
    {
        if (Single() == item.Get())
            bits = 0;
        return;
    }
    many->Erase(item);
    if (many->Size() == 1)
    {
        SetSingle(many->First());
        delete many;
    }
}

void ItemSet::Clear()
{
    delete Many();
    bits = 0;
}

void ItemSet::Add(const ItemSet& other)
{
    other.ForEach([this](ItemPtr item) { Insert(item); });
}

ItemSet ItemSet::operator+(ItemSet other) const
{
    other.Add(*this);
    return other;
}

ItemSet ItemSet::Common(const ItemSet& other) const
{
    const std::less<::Item*> before;
    ItemSet result;
    Iterator mine = Begin();
    Iterator theirs = other.Begin();
    while (mine != End() && theirs != other.End())
    {
        ::Item* left = *mine;
        ::Item* right = *theirs;
        if (left == right)
        {
            result.Insert(left);
            ++mine;
            ++theirs;
        }
        else if (before(left, right))
            ++mine;
        else
            ++theirs;
    }
    return result;
}

namespace {
// Calls visit(partner) for every item connected to `item`, stopping when it
// returns true; tells whether it stopped.
template <class Visit> bool AnyPartner(ItemPtr item, Visit visit)
{
    for (const TypeItemsMap::Entry& entry : item->connections)
    {
        bool stopped = false;
        entry.items.ForEach([&](ItemPtr partner) {
            if (!stopped && visit(partner))
                stopped = true;
        });
        if (stopped)
            return true;
    }
    return false;
}

template <class Keep> ItemSet Filter(const ItemSet& set, Keep keep)
{
    ItemSet kept;
    set.ForEach([&](ItemPtr member) {
        if (keep(member))
            kept.Insert(member);
    });
    return kept;
}
} // namespace

ItemSet ItemSet::Connected(const ItemSet& other) const
{
    // Scan the smaller side and probe the larger one.
    if (Size() < other.Size())
        return Filter(*this, [&other](ItemPtr member) {
            return AnyPartner(member,
                              [&other](ItemPtr partner) { return other.Contains(partner); });
        });
    ItemSet result;
    other.ForEach([&](ItemPtr member) {
        AnyPartner(member, [&](ItemPtr partner) {
            if (Contains(partner))
                result.Insert(partner);
            return false;
        });
    });
    return result;
}

ItemSet ItemSet::Connected(ItemPtr item) const
{
    if (item.IsNull())
        return ItemSet();
    return Filter(*this, [item](ItemPtr member) { return member->IsConnected(item); });
}

ItemSet ItemSet::Connected(const char* type) const
{
    return Connected(d.GetType(type)->GetItems());
}

ItemSet ItemSet::Connected(const char* type, Value value) const
{
    return Connected(ItemPtr(d.GetType(type)->HasItem(value)));
}

ItemSet ItemSet::NotConnected(const ItemSet& other) const
{
    return Filter(*this, [&other](ItemPtr member) {
        return !AnyPartner(member, [&other](ItemPtr partner) { return other.Contains(partner); });
    });
}

ItemSet ItemSet::NotConnected(ItemPtr item) const
{
    if (item.IsNull())
        return *this;
    return Filter(*this, [item](ItemPtr member) { return !member->IsConnected(item); });
}

ItemSet ItemSet::NotConnected(const char* type) const
{
    return NotConnected(d.GetType(type)->GetItems());
}

ItemSet ItemSet::NotConnected(const char* type, Value value) const
{
    return NotConnected(ItemPtr(d.GetType(type)->HasItem(value)));
}

ItemSet ItemSet::GetItems(const char* type) const
{
    ItemSet result;
    ForEach([&](ItemPtr member) { result.Add(member.GetItems(type)); });
    return result;
}

namespace {
// Acts on each member in identity order, skipping members that a handler run
// for an earlier member has removed.
template <class Act> void ForEachLiveMember(const ItemSet& set, Act act)
{
    if (set.Empty())
        return;
    const ItemSet members = set;
    Data& store = *static_cast<ItemPtr>(members)->type->data;
    Data::WalkGuard guard(store);
    members.ForEach([&](ItemPtr member) {
        if (store.IsAlive(member))
            act(member);
    });
}
} // namespace

void ItemSet::Disconnect(const char* type) const
{
    ForEachLiveMember(*this, [type](ItemPtr member) { member.Disconnect(type); });
}

void ItemSet::Remove() const
{
    ForEachLiveMember(*this, [](ItemPtr member) { member.Remove(); });
}

namespace {
qlonglong NumericKey(const std::string& bytes)
{
    return QString::fromLatin1(bytes.c_str()).toLongLong(nullptr, 10);
}

// Groups the members by the key of their key item's value (ties keep identity
// order) and flattens the groups; members without a key item are left out.
// Descending order is the exact reverse of ascending.
template <class Key, class KeyItemOf, class KeyOf>
std::list<ItemPtr> SortBy(const ItemSet& set, bool ascending, KeyItemOf keyItemOf, KeyOf keyOf)
{
    std::map<Key, ItemSet> groups;
    set.ForEach([&](ItemPtr member) {
        ItemPtr keyItem = keyItemOf(member);
        if (!keyItem.IsNull())
            groups[keyOf(keyItem->value.Bytes())].Insert(member);
    });
    std::list<ItemPtr> sorted;
    for (const auto& group : groups)
        group.second.ForEach([&](ItemPtr member) {
            if (ascending)
                sorted.push_back(member);
            else
                sorted.push_front(member);
        });
    return sorted;
}
} // namespace

std::list<ItemPtr> ItemSet::SortNumeric(bool ascending) const
{
    return SortBy<qlonglong>(
        *this, ascending, [](ItemPtr member) { return member; }, NumericKey);
}

std::list<ItemPtr> ItemSet::SortAlphabetic(bool ascending) const
{
    return SortBy<QString>(
        *this, ascending, [](ItemPtr member) { return member; }, ToQString);
}

std::list<ItemPtr> ItemSet::SortNumericBy(const char* type, bool ascending) const
{
    return SortBy<qlonglong>(
        *this, ascending, [type](ItemPtr member) { return member->HasItem(type); }, NumericKey);
}

std::list<ItemPtr> ItemSet::SortAlphabeticBy(const char* type, bool ascending,
                                             bool caseSensitive) const
{
    return SortBy<QString>(
        *this, ascending, [type](ItemPtr member) { return member->HasItem(type); },
        [caseSensitive](const std::string& bytes) {
            return caseSensitive ? ToQString(bytes) : ToQString(bytes).toLower();
        });
}
