#include "DataSaver.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include "Data.h"
#include "DataLoadFailure.h"
#include "DataLoadedEventHandler.h"
#include "DataSaveFailure.h"
#include "Log.h"

DataSaver* dataSaver = nullptr;

namespace {
const char* const logArea = "Configuration Data";

using IdPair = std::pair<int32_t, int32_t>;

// A type going into a file, with the items written and the id of the first.
struct WrittenType
{
    Type* type = nullptr;
    std::vector<Item*> items; // in identity order, as the type's item set lists them
    int32_t firstId = 0;
};

bool IsSavedName(const QString& name, const QString& stem)
{
    if (!name.startsWith(stem) || name.size() == stem.size())
        return false;
    return std::all_of(name.begin() + stem.size(), name.end(),
                       [](QChar c) { return c >= '0' && c <= '9'; });
}

// Newest first: by modification time to the second, then by the save time in the name.
bool IsNewer(const QFileInfo& left, const QFileInfo& right)
{
    const qint64 leftTime = left.lastModified().toSecsSinceEpoch();
    const qint64 rightTime = right.lastModified().toSecsSinceEpoch();
    if (leftTime != rightTime)
        return leftTime > rightTime;
    const QString leftName = left.fileName(), rightName = right.fileName();
    if (leftName.size() != rightName.size())
        return leftName.size() > rightName.size();
    return leftName > rightName;
}

// Only "<name>.<digits>" counts as a saved file: anything else beside it (a file moved aside, a
// file of another program) is never loaded or pruned.
QFileInfoList SavedFiles(const QString& prefix)
{
    const QFileInfo prefixInfo(prefix);
    const QString stem = prefixInfo.fileName() + '.';
    QFileInfoList saved;
    const QFileInfoList entries =
        prefixInfo.dir().entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries)
        if (IsSavedName(entry.fileName(), stem))
            saved.append(entry);
    std::sort(saved.begin(), saved.end(), IsNewer);
    return saved;
}

QString NewFileName(const QString& prefix)
{
    QString name;
    do
        name = QStringLiteral("%1.%2").arg(prefix).arg(QDateTime::currentMSecsSinceEpoch());
    while (QFileInfo::exists(name));
    return name;
}

// Renames an unreadable file out of the saved-file pattern, so that later saves keep it.
void MoveAside(const QString& path)
{
    QString target = path + ".unreadable";
    for (int attempt = 2; QFileInfo::exists(target); ++attempt)
        target = QStringLiteral("%1.unreadable%2").arg(path).arg(attempt);
    if (QFile::rename(path, target))
        Log(logArea, 1, QStringLiteral("Moved the unreadable %1 to %2").arg(path, target));
    else
        Log(logArea, 1, QStringLiteral("Could not move the unreadable %1 aside").arg(path));
}

// Collects the little-endian fields of a file and hands them to the device in large blocks.
class FileWriter
{
public:
    explicit FileWriter(QIODevice& device) : device(device), buffer(capacity) {}

    void WriteInt(int32_t value)
    {
        const quint32 bits = qToLittleEndian(static_cast<quint32>(value));
        Append(reinterpret_cast<const char*>(&bits), sizeof bits);
    }
    void WriteFlag(bool flag) { Append(flag ? "\1" : "\0", 1); }
    void WriteString(const std::string& bytes)
    {
        WriteInt(static_cast<int32_t>(bytes.size()));
        Append(bytes.data(), bytes.size());
    }
    void Flush()
    {
        Put(buffer.data(), used);
        used = 0;
    }

private:
    static constexpr size_t capacity = 1 << 18;

    void Append(const char* bytes, size_t size)
    {
        if (used + size > capacity)
            Flush();
        if (size > capacity)
            return Put(bytes, size);
        std::memcpy(buffer.data() + used, bytes, size);
        used += size;
    }
    void Put(const char* bytes, size_t size)
    {
        if (size > 0 && device.write(bytes, static_cast<qint64>(size)) != qint64(size))
            throw DataSaveFailure();
    }

    QIODevice& device;
    std::vector<char> buffer;
    size_t used = 0;
};

// Reads the fields of a file held in memory; every read checks the bytes left first.
class FileReader
{
public:
    explicit FileReader(const QByteArray& bytes)
        : next(bytes.constData()), end(bytes.constData() + bytes.size())
    {}

    bool AtEnd() const { return next == end; }
    bool ReadInt(int32_t& value)
    {
        if (Left() < sizeof value)
            return false;
        value = qFromLittleEndian<qint32>(next);
        next += sizeof value;
        return true;
    }
    bool ReadByte(char& value)
    {
        if (Left() < 1)
            return false;
        value = *next++;
        return true;
    }
    // A count of records of at least `minimum` bytes each: no more than the bytes left can hold.
    bool ReadCount(int32_t& count, size_t minimum)
    {
        return ReadInt(count) && count >= 0 && size_t(count) <= Left() / minimum;
    }
    // A view of the bytes, cut at the first NUL as values made from text are.
    bool ReadString(std::string_view& value)
    {
        int32_t length = 0;
        if (!ReadInt(length) || length < 0 || length > DataSaver::maxValueLength ||
            size_t(length) > Left())
            return false;
        const auto* nul = static_cast<const char*>(std::memchr(next, 0, size_t(length)));
        value = std::string_view(next, size_t((nul ? nul : next + length) - next));
        next += length;
        return true;
    }

private:
    size_t Left() const { return size_t(end - next); }

    const char* next;
    const char* end;
};

bool IsConnectedToAny(Item* item, const std::set<Type*>& types)
{
    return std::any_of(types.begin(), types.end(),
                       [item](Type* type) { return item->IsConnected(type); });
}

// The types to write, in name order, each with the items to write in identity order.
std::vector<WrittenType> SelectItems(const std::set<Type*>& savedTypes,
                                     const std::map<Type*, std::set<Type*>>& byConnection,
                                     bool everything)
{
    std::map<std::string, Type*> types;
    d.GetTypes(types);
    std::vector<WrittenType> written;
    int64_t nextId = 1;
    for (const auto& named : types)
    {
        Type* type = named.second;
        const bool whole = everything || savedTypes.count(type) > 0;
        const auto rule = byConnection.find(type);
        if (!whole && rule == byConnection.end())
            continue;
        WrittenType record{type, {}, static_cast<int32_t>(nextId)};
        record.items.reserve(type->ItemCount());
        type->GetItems().ForEach([&](ItemPtr item) {
            if (!whole && !IsConnectedToAny(item, rule->second))
                return;
            // Loading refuses such a value, and with it the whole file.
            if (item->value.Bytes().size() > size_t(DataSaver::maxValueLength))
            {
                Log(logArea, 1,
                    QStringLiteral("Not saving a %1 item: its value of %2 bytes is too long")
                        .arg(QString::fromStdString(type->name))
                        .arg(item->value.Bytes().size()),
                    item);
                return;
            }
            record.items.push_back(item);
        });
        nextId += int64_t(record.items.size());
        if (nextId > std::numeric_limits<int32_t>::max())
            throw DataSaveFailure();
        written.push_back(std::move(record));
    }
    return written;
}

// Gathers every connection between two written items once, as (lower id, higher id).
class PairCollector
{
public:
    explicit PairCollector(const std::vector<WrittenType>& written)
    {
        for (const WrittenType& record : written)
            byType[record.type] = &record;
    }

    // Called for every written item, in id order, while the item is at hand for its value.
    void Add(const WrittenType& record, Item* item, int32_t id)
    {
        for (const TypeItemsMap::Entry& entry : item->connections)
        {
            const auto found = byType.find(entry.type);
            if (found == byType.end())
                continue;
            const WrittenType& partners = *found->second;
            const bool sameType = &partners == &record;
            if (!sameType && !TakesPairs(record, partners))
                continue;
            // Both lists are in identity order, so each search starts where the last ended.
            auto cursor = partners.items.begin();
            entry.items.ForEach([&](ItemPtr partner) {
                cursor = std::lower_bound(cursor, partners.items.end(), partner.Get());
                if (cursor == partners.items.end() || *cursor != partner.Get())
                    return;
                const auto partnerId =
                    static_cast<int32_t>(partners.firstId + (cursor - partners.items.begin()));
                // Within a type both ends see the pair; the lower one takes it.
                if (!sameType || partnerId > id)
                    pairs.emplace_back(std::min(id, partnerId), std::max(id, partnerId));
            });
        }
    }

    // The pairs in ascending order, given the highest id.
    std::vector<IdPair> Sorted(int32_t lastId)
    {
        if (pairs.size() > size_t(std::numeric_limits<int32_t>::max()))
            throw DataSaveFailure();
        // Placed by lower id in one pass; within one lower id they arrive mostly in order.
        std::vector<uint32_t> next(size_t(lastId) + 2);
        for (const IdPair& pair : pairs)
            ++next[size_t(pair.first) + 1];
        for (size_t id = 1; id < next.size(); ++id)
            next[id] += next[id - 1];
        std::vector<IdPair> sorted(pairs.size());
        for (const IdPair& pair : pairs)
            sorted[next[size_t(pair.first)]++] = pair;
        pairs = {};
        for (size_t id = 1, begin = 0; id < next.size() - 1; begin = next[id++])
            if (!std::is_sorted(sorted.begin() + long(begin), sorted.begin() + long(next[id])))
                std::sort(sorted.begin() + long(begin), sorted.begin() + long(next[id]));
        return sorted;
    }

private:
    // Whether an item takes its pairs with the partners of the other type, rather than they with
    // it. A connection between two types is taken from the end that looks its partner up in the
    // shorter list, which stays in cache: a leaf finds its hub, not a hub each of its leaves.
    static bool TakesPairs(const WrittenType& own, const WrittenType& partners)
    {
        if (own.items.size() != partners.items.size())
            return partners.items.size() < own.items.size();
        return own.firstId < partners.firstId;
    }

    std::map<Type*, const WrittenType*> byType;
    std::vector<IdPair> pairs;
};

void WriteFile(QIODevice& device, const std::vector<WrittenType>& written)
{
    FileWriter out(device);
    PairCollector pairs(written);
    int32_t id = 0;
    out.WriteInt(static_cast<int32_t>(written.size()));
    for (const WrittenType& record : written)
    {
        out.WriteString(record.type->name);
        out.WriteFlag(record.type->isNull);
        out.WriteInt(static_cast<int32_t>(record.items.size()));
        for (Item* item : record.items)
        {
            out.WriteInt(++id);
            if (!record.type->isNull)
                out.WriteString(item->value.Bytes());
            pairs.Add(record, item, id);
        }
    }
    const std::vector<IdPair> sorted = pairs.Sorted(id);
    out.WriteInt(static_cast<int32_t>(sorted.size()));
    for (const IdPair& pair : sorted)
    {
        out.WriteInt(pair.first);
        out.WriteInt(pair.second);
    }
    out.Flush();
}

// Writes the file whole or not at all: it appears under its name only once complete.
bool Commit(const QString& fileName, const std::vector<WrittenType>& written)
{
    QSaveFile file(fileName);
    try
    {
        // Unbuffered, so that a short write (a full disk) reaches FileWriter as one: a failed
        // flush of the device's own buffer would not stop the commit. Readable by the user
        // alone from the start: the store holds the password.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
            !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            throw DataSaveFailure();
        WriteFile(file, written);
    }
    catch (const DataSaveFailure&)
    {
        file.cancelWriting();
        return false;
    }
    return file.error() == QFileDevice::NoError && file.commit();
}

// The item records of a file by id: a flat map, filled in the order read (ascending ids, for a
// saved file) and put in order once all are read. It grows only with records actually read.
class Records
{
public:
    static constexpr size_t none = size_t(-1);

    void Add(int32_t id, Type* type, std::string_view value)
    {
        records.push_back({id, {value, type, ItemPtr()}});
    }

    // Of records sharing an id, the one read last stays.
    void Finish()
    {
        const auto notAscending = [](const Record& left, const Record& right) {
            return left.id >= right.id;
        };
        if (std::adjacent_find(records.begin(), records.end(), notAscending) != records.end())
        {
            std::stable_sort(
                records.begin(), records.end(),
                [](const Record& left, const Record& right) { return left.id < right.id; });
            size_t kept = 0;
            for (size_t at = 0; at < records.size(); ++at)
                if (at + 1 == records.size() || records[at + 1].id != records[at].id)
                    records[kept++] = std::move(records[at]);
            records.erase(records.begin() + long(kept), records.end());
        }
        dense = !records.empty() &&
                int64_t(records.back().id) - records.front().id + 1 == int64_t(records.size());
    }

    size_t Size() const { return records.size(); }
    DataSaver::ItemInfo& At(size_t position) { return records[position].info; }
    size_t Position(int32_t id) const
    {
        if (dense)
        {
            const int64_t position = int64_t(id) - records.front().id;
            return position >= 0 && position < int64_t(records.size()) ? size_t(position) : none;
        }
        const auto found = std::lower_bound(
            records.begin(), records.end(), id,
            [](const Record& record, int32_t wanted) { return record.id < wanted; });
        return found != records.end() && found->id == id ? size_t(found - records.begin()) : none;
    }

private:
    struct Record
    {
        int32_t id;
        DataSaver::ItemInfo info;
    };

    std::vector<Record> records;
    bool dense = false;
};

bool ReadItems(FileReader& in, Records& records)
{
    constexpr size_t smallestTypeRecord = 9; // empty name, flag, item count
    int32_t typeCount = 0;
    if (!in.ReadCount(typeCount, smallestTypeRecord))
        return false;
    std::string_view name, value;
    for (int32_t index = 0; index < typeCount; ++index)
    {
        char flag = 0;
        int32_t itemCount = 0;
        if (!in.ReadString(name) || !in.ReadByte(flag) || (flag != 0 && flag != 1))
            return false;
        const bool isNull = flag == 1;
        // Types no longer declared are read past and dropped.
        Type* type = d.HasType(std::string(name));
        if ((type && type->isNull != isNull) || !in.ReadCount(itemCount, isNull ? 4 : 8))
            return false;
        for (int32_t item = 0; item < itemCount; ++item)
        {
            int32_t id = 0;
            if (!in.ReadInt(id) || (!isNull && !in.ReadString(value)))
                return false;
            if (!type)
                continue;
            records.Add(id, type, isNull ? std::string_view() : value);
        }
    }
    records.Finish();
    return true;
}

// A pair of a file as the positions of its two records in the index, which follow the ids.
using Link = std::pair<uint32_t, uint32_t>;

// The pairs between two kept records, each once, in ascending order.
bool ReadPairs(FileReader& in, const Records& records, std::vector<Link>& links)
{
    int32_t pairCount = 0;
    if (!in.ReadCount(pairCount, 2 * sizeof(int32_t)))
        return false;
    links.reserve(size_t(pairCount)); // the bytes of that many pairs are there
    for (int32_t pair = 0; pair < pairCount; ++pair)
    {
        int32_t first = 0, second = 0;
        if (!in.ReadInt(first) || !in.ReadInt(second))
            return false;
        // A self-pair, or a partner whose type is gone, is dropped.
        const size_t from = records.Position(first), to = records.Position(second);
        if (from != to && from != Records::none && to != Records::none)
            links.emplace_back(uint32_t(from), uint32_t(to));
    }
    const auto notAscending = [](const Link& left, const Link& right) { return !(left < right); };
    if (std::adjacent_find(links.begin(), links.end(), notAscending) != links.end())
    {
        std::sort(links.begin(), links.end());
        links.erase(std::unique(links.begin(), links.end()), links.end());
    }
    return in.AtEnd();
}

// The pairs in the order in which to make the connections: each at its end with fewer partners.
// A hub then stays in cache while its leaves are visited in file order; hub by hub, every
// connection would reach into a different corner of the store, several times slower. The pairs
// themselves are moved, not an index to them, so that the connecting walks them in one sweep.
std::vector<Link> ConnectionOrder(size_t recordCount, std::vector<Link> links)
{
    std::vector<uint32_t> degree(recordCount);
    for (const Link& link : links)
        ++degree[link.first], ++degree[link.second];
    const auto leafEnd = [&degree](const Link& link) {
        return degree[link.second] < degree[link.first] ? link.second : link.first;
    };
    std::vector<uint32_t> next(recordCount + 1);
    for (const Link& link : links)
        ++next[leafEnd(link) + 1];
    for (size_t position = 1; position < next.size(); ++position)
        next[position] += next[position - 1];
    std::vector<Link> ordered(links.size());
    for (const Link& link : links)
        ordered[next[leafEnd(link)]++] = link;
    return ordered;
}

void MakeItems(Records& records, std::vector<Link> links)
{
    // Handlers may remove items as they appear; the guard keeps those allocated, and IsAlive
    // tells them apart.
    Data::WalkGuard guard(d);
    std::map<Type*, size_t> counts;
    for (size_t position = 0; position < records.Size(); ++position)
        ++counts[records.At(position).mp_type];
    for (const auto& count : counts)
        count.first->ReserveItems(count.second);
    // Each lookup in a type's value index waits for memory; asking for the slots a few records
    // ahead lets those waits overlap.
    constexpr size_t lookAhead = 16;
    std::vector<uint64_t> hashes(records.Size());
    for (size_t position = 0; position < records.Size(); ++position)
        hashes[position] = ValueIndex::Hash(records.At(position).m_value);
    for (size_t position = 0; position < records.Size(); ++position)
    {
        if (position + lookAhead < records.Size())
        {
            const DataSaver::ItemInfo& later = records.At(position + lookAhead);
            if (!later.mp_type->isNull)
                __builtin_prefetch(later.mp_type->HomeSlot(hashes[position + lookAhead]));
        }
        DataSaver::ItemInfo& info = records.At(position);
        // Get-or-create, so that a record merges with a default written before the load.
        info.m_item = info.mp_type->isNull ? info.mp_type->NewItem()
                                           : info.mp_type->NewItem(Value(std::string(info.m_value)),
                                                                   hashes[position]);
    }
    size_t unrelated = 0;
    for (const Link& link : ConnectionOrder(records.Size(), std::move(links)))
    {
        const ItemPtr item = records.At(link.first).m_item;
        const ItemPtr partner = records.At(link.second).m_item;
        if (item == partner || !d.IsAlive(item) || !d.IsAlive(partner))
            continue;
        // A file from before a change of relations, or a damaged one.
        if (!item->type->FindRelation(partner->type))
        {
            ++unrelated;
            continue;
        }
        item += partner;
    }
    if (unrelated > 0)
        Log(logArea, 1,
            QStringLiteral("Skipped %1 saved connections between unrelated types").arg(unrelated));
}
} // namespace

DataSaver::DataSaver()
{
    dataSaver = this;
}

DataSaver::~DataSaver()
{
    if (dataSaver == this)
        dataSaver = nullptr;
}

void DataSaver::AddSavedType(const std::string& type)
{
    m_savedTypes.insert(d.GetType(type));
}

void DataSaver::AddSavedByConnectionType(const std::string& type, const std::string& connectedType)
{
    Type* saved = d.GetType(type);
    Type* connected = d.GetType(connectedType);
    m_savedByConnectionTypes[saved].insert(connected);
}

void DataSaver::Save(const QString& prefix)
{
    const QString fileName = NewFileName(prefix);
    try
    {
        if (!Commit(fileName, SelectItems(m_savedTypes, m_savedByConnectionTypes, false)))
            throw DataSaveFailure();
    }
    catch (const DataSaveFailure&)
    {
        Log(logArea, 1, QStringLiteral("Could not save to %1; the older files stay").arg(fileName));
        return;
    }
    // Only now that the new file is complete may older ones go.
    const QString saved = QFileInfo(fileName).absoluteFilePath();
    int kept = 0;
    for (const QFileInfo& file : SavedFiles(prefix))
        if (file.absoluteFilePath() != saved && ++kept > olderFilesKept)
            QFile::remove(file.absoluteFilePath());
}

bool DataSaver::SaveAll(const QString& fileName)
{
    try
    {
        return Commit(fileName, SelectItems(m_savedTypes, m_savedByConnectionTypes, true));
    }
    catch (const DataSaveFailure&)
    {
        return false;
    }
}

void DataSaver::Load(const QString& prefix)
{
    const QFileInfoList files = SavedFiles(prefix);
    for (const QFileInfo& file : files)
    {
        if (LoadFile(file.absoluteFilePath()))
        {
            EmitDataLoaded();
            return;
        }
        Log(logArea, 1, QStringLiteral("Could not read %1").arg(file.absoluteFilePath()));
    }
    // The store keeps what it holds (the defaults), and the run goes on as a first one.
    for (const QFileInfo& file : files)
        MoveAside(file.absoluteFilePath());
    EmitDataLoaded();
    EmitNoData();
    if (!files.isEmpty())
        throw DataLoadFailure();
}

bool DataSaver::LoadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    // Items are made only once the whole file has been read, so a bad file changes nothing.
    Records records;
    std::vector<Link> links;
    FileReader in(bytes);
    if (!ReadItems(in, records) || !ReadPairs(in, records, links))
        return false;
    MakeItems(records, std::move(links));
    return true;
}

void DataSaver::AddDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    m_dataLoadedHandlers.insert(handler);
}

void DataSaver::EmitDataLoaded()
{
    const std::set<DataLoadedEventHandler*> handlers = m_dataLoadedHandlers;
    for (DataLoadedEventHandler* handler : handlers)
        handler->DataLoaded();
}

void DataSaver::EmitNoData()
{
    const std::set<DataLoadedEventHandler*> handlers = m_dataLoadedHandlers;
    for (DataLoadedEventHandler* handler : handlers)
        handler->NoData();
}
