#pragma once

// Told once the saved store has been read at start-up. Handlers are entered with
// DataSaver::AddDataLoadedEventHandler and must live as long as the saver.
class DataLoadedEventHandler
{
public:
    virtual void DataLoaded() {}
    // After DataLoaded, when there was nothing to load: a first run, or only unreadable files.
    virtual void NoData() {}

protected:
    // The saver never deletes its handlers.
    ~DataLoadedEventHandler() = default;
};
