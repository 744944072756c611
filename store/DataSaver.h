#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include <QString>

#include "ItemPtr.h"

class DataLoadedEventHandler;
class Type;

// Writes the part of the store `d` that must survive a restart to a file named after the time of
// the save, and reads the newest readable one back at start.
class DataSaver
{
public:
    // One item record of a file being loaded; its pairs are kept apart, in one sorted list.
    struct ItemInfo
    {
        std::string_view m_value; // in the bytes of the file, held while it is read
        Type* mp_type = nullptr;
        ItemPtr m_item;
    };

    // Besides the new file, a save keeps this many older ones to fall back on.
    static constexpr int olderFilesKept = 3;
    // Values longer than this are refused by the loader, so they are never written.
    static constexpr int32_t maxValueLength = 1048576;

    DataSaver();
    DataSaver(const DataSaver&) = delete;
    DataSaver& operator=(const DataSaver&) = delete;
    ~DataSaver();

    // Saves every item of the type.
    void AddSavedType(const std::string& type);
    // Saves the items of `type` that are connected to an item of `connectedType`.
    void AddSavedByConnectionType(const std::string& type, const std::string& connectedType);

    // Writes a new file "<prefix>.<ms since epoch>", then keeps it and the three newest older
    // ones. Never throws; a failed save leaves the older files as they were.
    void Save(const QString& prefix);
    // Writes the whole store to the file, for diagnosis.
    bool SaveAll(const QString& fileName);
    // Loads the newest readable file. Throws DataLoadFailure when files exist and none can be
    // read; the store is then left as it was and the files are moved aside.
    void Load(const QString& prefix);

    void AddDataLoadedEventHandler(DataLoadedEventHandler* handler);
    void EmitDataLoaded();
    void EmitNoData();

private:
    bool LoadFile(const QString& path);

    std::set<Type*> m_savedTypes;
    std::map<Type*, std::set<Type*>> m_savedByConnectionTypes;
    std::set<DataLoadedEventHandler*> m_dataLoadedHandlers;
};

extern DataSaver* dataSaver;
