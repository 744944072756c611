#pragma once

#include <unordered_set>
#include <vector>

#include <QObject>
#include <QTimer>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"

class Item;
class QTreeWidget;
class TransferQueueManager;

// Entries of one transfer tree chosen for removal. Each is handed to the engine only while it
// still exists: removing one may make the engine drop others (a queued upload whose folder is
// no longer shared), and their handles then name freed items. Thousands of removals take
// seconds, so the work goes a slice of time per pass of the event loop, with the tree's
// updates off; a small choice is gone within the first slice.
class EntryRemoval : public QObject, public DataHandler
{
    Q_OBJECT

public:
    using RemoveOne = void (TransferQueueManager::*)(ItemPtr);
    // Work of one slice, in nanoseconds: well within a pass the user would notice.
    static constexpr qint64 sliceNs = 50 * 1000 * 1000;

    EntryRemoval(QTreeWidget* tree, const char* entryType, RemoveOne remove,
                 QObject* parent = nullptr);

    // Takes the entries; the first slice runs on the next pass, or now through Step().
    void Add(const ItemSet& entries);
    // The work of one slice; each slice removes at least one entry.
    void SetSlice(qint64 ns) { slice = ns; }
    bool IsEmpty() const { return chosen.empty(); }
    // Removes whatever is left now.
    void Finish();

public slots:
    // One slice; the next follows on a later pass while work remains.
    void Step();

private:
    void Run(qint64 budgetNs);
    void OnEntryRemoved(ItemPtr entry);
    // Drops the handles once none is chosen any more.
    void Forget();

    QTreeWidget* tree;
    RemoveOne remove;
    std::vector<ItemPtr> queue;
    size_t next = 0;
    qint64 slice = sliceNs;
    // The queued entries that still exist; the store's removal event takes them out.
    std::unordered_set<Item*> chosen;
    QTimer timer;
};
