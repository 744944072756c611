#include "Server.h"

#include <list>
#include <set>
#include <string>
#include <utility>

#include "Data.h"
#include "MessageFields.h"
#include "ServerStore.h"
#include "ServerTypes.h"
#include "Settings.h"

using MessageFields::Read;
using MessageFields::ReadName;
using ServerStore::KnownRoom;
using ServerStore::KnownUser;
using ServerStore::Room;
using ServerStore::SetAttribute;
using ServerStore::User;

namespace {
using TickerEntry = std::pair<QString, QString>;
// Names as the store keeps them, so that they compare with item values byte for byte.
using NameSet = std::set<std::string>;

template <class T> std::list<T> ReadList(InputStream& stream)
{
    std::list<T> values;
    stream.Read(values);
    return values;
}

// Pairs the entries at the same position; a list that came shorter than its partner leaves the
// rest of the longer one unpaired rather than read past its end.
template <class A, class B, class Act>
void ForEachPair(const std::list<A>& first, const std::list<B>& second, Act act)
{
    auto a = first.begin();
    auto b = second.begin();
    for (; a != first.end() && b != second.end(); ++a, ++b)
        act(*a, *b);
}

NameSet ToNameSet(const std::list<QString>& names)
{
    NameSet set;
    for (const QString& name : names)
        set.insert(Value(name).Bytes());
    return set;
}

void UnmarkRoomsNotIn(const char* mark, const NameSet& keep)
{
    ItemSet stale;
    for (ItemPtr room : g(mark).GetItems(ServerTypes::room))
        if (keep.count(room.AsStdString()) == 0)
            stale.Insert(room);
    stale.Disconnect(mark);
}

void SetStats(ItemPtr user, const UserStats& stats)
{
    SetAttribute(user, ServerTypes::averageDownloadSpeed, stats.m_averageSpeed);
    SetAttribute(user, ServerTypes::sharedFileCount, stats.m_sharedFileCount);
}

// Connects the user, text and order of a ticker entry; its room is connected by the caller.
void FillTicker(ItemPtr ticker, const QString& user, const QString& text, qint64 order)
{
    ticker.Connect(User(user));
    SetAttribute(ticker, ServerTypes::roomTickerText, text);
    SetAttribute(ticker, ServerTypes::roomTickerOrder, order);
}
} // namespace

void Server::OnRoomChat(MemStream& body)
{
    QString room, name;
    if (!ReadName(body, room, "room") || !ReadName(body, name, "user"))
        return;
    const QString text = Read<QString>(body);
    ItemPtr sender = KnownUser(name);
    if (!sender.IsNull() && sender.IsConnected(ServerTypes::isIgnored))
        return;
    emit RoomChat(room, name, text);
}

void Server::OnJoinRoom(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "room"))
        return;
    const std::list<QString> users = ReadList<QString>(body);
    ReadList<qint32>(body); // statuses
    const std::list<UserStats> stats = MessageFields::ReadCountedList<UserStats>(
        body, [](InputStream& stream, UserStats& record) { return stream.Read(record); });
    ReadList<qint32>(body); // unused
    const std::list<QString> countries = ReadList<QString>(body);
    // Only private rooms carry an owner and operators after the users.
    QString owner;
    const bool hasOwner = body.Read(owner);
    std::set<QString> operators;
    if (hasOwner)
        body.Read(operators);

    ItemPtr room = Room(name);
    if (hasOwner)
    {
        room.NewItem(ServerTypes::roomOwner).Connect(User(owner));
        ItemPtr operatorsNode = room.NewItem(ServerTypes::roomOperators);
        operatorsNode.Disconnect(ServerTypes::user);
        for (const QString& op : operators)
            operatorsNode.Connect(User(op));
    }
    room.NewItem(ServerTypes::inRoom);

    room.Disconnect(ServerTypes::user);
    for (const QString& user : users)
        room.Connect(User(user));
    ForEachPair(users, stats,
                [](const QString& user, const UserStats& record) { SetStats(User(user), record); });
    ForEachPair(users, countries, [](const QString& user, const QString& country) {
        SetAttribute(User(user), ServerTypes::countryCode, country);
    });
}

void Server::OnLeaveRoom(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "room"))
        return;
    ItemPtr room = KnownRoom(name);
    // A reply for a room we are not in must not empty a user list someone else still shows.
    if (room.IsNull() || !room.IsConnected(ServerTypes::inRoom))
        return;
    room.Disconnect(ServerTypes::inRoom);
    room.Disconnect(ServerTypes::user);
}

void Server::OnUserJoinedRoom(MemStream& body)
{
    QString room, name;
    if (!ReadName(body, room, "room") || !ReadName(body, name, "user"))
        return;
    Read<qint32>(body); // status
    UserStats stats;
    body.Read(stats);
    Read<qint32>(body); // unused
    const QString country = Read<QString>(body);

    ItemPtr user = User(name);
    Room(room).Connect(user);
    SetStats(user, stats);
    SetAttribute(user, ServerTypes::countryCode, country);
}

void Server::OnUserLeftRoom(MemStream& body)
{
    QString roomName, userName;
    if (!ReadName(body, roomName, "room") || !ReadName(body, userName, "user"))
        return;
    ItemPtr room = KnownRoom(roomName);
    ItemPtr user = KnownUser(userName);
    if (!room.IsNull() && !user.IsNull())
        room.Disconnect(user);
}

void Server::OnRoomList(MemStream& body)
{
    // Only a list we asked for may add rooms; one the server pushes refreshes known rooms.
    const bool asked = Settings::IsYes(ServerSettings::acceptRoomList);
    Settings::Set(ServerSettings::acceptRoomList, "no");

    const std::list<QString> rooms = ReadList<QString>(body);
    const std::list<qint32> counts = ReadList<qint32>(body);
    const std::list<QString> owned = ReadList<QString>(body);
    const std::list<qint32> ownedCounts = ReadList<qint32>(body);
    const std::list<QString> joined = ReadList<QString>(body);
    const std::list<qint32> joinedCounts = ReadList<qint32>(body);
    std::set<QString> operated;
    body.Read(operated);

    ForEachPair(rooms, counts, [asked](const QString& name, qint32 count) {
        ItemPtr room = asked ? Room(name) : KnownRoom(name);
        if (!room.IsNull())
            SetAttribute(room, ServerTypes::userCount, count);
    });

    ForEachPair(owned, ownedCounts, [](const QString& name, qint32 count) {
        ItemPtr room = Room(name);
        SetAttribute(room, ServerTypes::userCount, count);
        room.NewItem(ServerTypes::isOwner);
        room.NewItem(ServerTypes::isPrivate);
        room.NewItem(ServerTypes::isMember);
    });
    const NameSet ownedNames = ToNameSet(owned);
    UnmarkRoomsNotIn(ServerTypes::isOwner, ownedNames);

    ForEachPair(joined, joinedCounts, [&operated](const QString& name, qint32 count) {
        ItemPtr room = Room(name);
        SetAttribute(room, ServerTypes::userCount, count);
        room.NewItem(ServerTypes::isPrivate);
        room.NewItem(ServerTypes::isMember);
        if (operated.count(name) != 0)
            room.NewItem(ServerTypes::isOperator);
    });
    // Owners are members too: a room in either list keeps the mark.
    NameSet privateNames = ToNameSet(joined);
    privateNames.insert(ownedNames.begin(), ownedNames.end());
    UnmarkRoomsNotIn(ServerTypes::isMember, privateNames);
}

void Server::OnRoomTickers(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "room"))
        return;
    const std::list<TickerEntry> entries = MessageFields::ReadCountedList<TickerEntry>(
        body, [](InputStream& stream, TickerEntry& entry) {
            return stream.Read(entry.first) && stream.Read(entry.second);
        });

    ItemPtr room = Room(name);
    // The list replaces the wall; entries left behind would pile up for the whole run.
    room.GetItems(ServerTypes::roomTicker).Remove();
    Type* tickers = d.GetType(ServerTypes::roomTicker);
    for (const TickerEntry& entry : entries)
    {
        ItemPtr ticker = tickers->NewItem();
        FillTicker(ticker, entry.first, entry.second, nextTickerOrder++);
        // Last, so that the wall sees the entry whole.
        room.Connect(ticker);
    }
}

void Server::OnRoomTickerSet(MemStream& body)
{
    QString name, user;
    if (!ReadName(body, name, "room") || !ReadName(body, user, "user"))
        return;
    const QString text = Read<QString>(body);

    ItemPtr room = Room(name);
    // A user has one ticker per room: the new text replaces the old entry.
    ItemPtr old = d.GetItem(room, User(user), ServerTypes::roomTicker);
    if (!old.IsNull())
        old.Remove();
    FillTicker(room.NewItem(ServerTypes::roomTicker), user, text, nextTickerOrder++);
}

void Server::OnRoomAutojoinDropped(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "room"))
        return;
    ItemPtr room = KnownRoom(name);
    if (!room.IsNull())
        room.Disconnect(ServerTypes::roomAutojoin);
}
