#pragma once

#include <cstdint>
#include <list>

#include <QString>
#include <QtGlobal>

#include "InputStream.h"

// Reading the fields of a server message. A field that is not wholly present keeps its
// starting value, and the handler goes on with the fields after it.
namespace MessageFields {
template <class T> T Read(InputStream& stream, T start = T())
{
    T value = start;
    if (!stream.Read(value))
        return start;
    return value;
}

quint8 ReadUInt8(InputStream& stream, quint8 start = 0);
quint16 ReadUInt16(InputStream& stream, quint16 start = 0);

// The user or room name a handler acts on has no starting value: a message too short to hold it
// is ignored whole, with a log line saying which name it lacked, rather than acted on for the
// name "". `what` is that name's role ("user", "room").
bool ReadName(InputStream& stream, QString& name, const char* what);

// A list whose int32 count and entries the handler reads itself: an unreadable count or one
// above the limit gives an empty list, a negative count reads entries until one is incomplete,
// and reading stops at the first incomplete entry. readEntry(stream, entry) returns false then.
template <class Entry, class ReadEntry>
std::list<Entry> ReadCountedList(InputStream& stream, ReadEntry readEntry)
{
    std::list<Entry> entries;
    qint32 count = 0;
    if (!stream.Read(count) || count > static_cast<qint32>(InputStream::MaxCount))
        return entries;
    for (qint64 read = 0; count < 0 || read < count; ++read)
    {
        Entry entry{};
        if (!readEntry(stream, entry))
            break;
        entries.push_back(std::move(entry));
    }
    return entries;
}
} // namespace MessageFields
