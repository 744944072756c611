#include "EntryRemoval.h"

#include <limits>

#include <QElapsedTimer>
#include <QTreeWidget>

#include "Data.h"
#include "TransferQueueManager.h"

EntryRemoval::EntryRemoval(QTreeWidget* tree, const char* entryType, RemoveOne remove,
                           QObject* parent)
    : QObject(parent), tree(tree), remove(remove)
{
    timer.setSingleShot(true);
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this, &EntryRemoval::Step);
    Listen(d.GetType(entryType)->itemRemoved, this, &EntryRemoval::OnEntryRemoved);
}

void EntryRemoval::Add(const ItemSet& entries)
{
    entries.ForEach([this](ItemPtr entry) {
        if (chosen.insert(entry.Get()).second)
            queue.push_back(entry);
    });
    if (!IsEmpty())
        timer.start();
}

void EntryRemoval::Finish()
{
    Run(std::numeric_limits<qint64>::max());
}

void EntryRemoval::Step()
{
    Run(slice);
    if (!IsEmpty())
        timer.start();
}

void EntryRemoval::Run(qint64 budgetNs)
{
    if (IsEmpty())
        return Forget();
    QElapsedTimer clock;
    clock.start();
    // Rows taken out of a tree that repaints and lays out after each would cost far more.
    const bool updating = tree->updatesEnabled();
    tree->setUpdatesEnabled(false);
    for (bool first = true;
         next < queue.size() && !IsEmpty() && (first || clock.nsecsElapsed() < budgetNs);
         first = false)
    {
        ItemPtr entry = queue[next++];
        // Gone meanwhile (an earlier removal took it along): the handle may name a freed item.
        if (chosen.erase(entry.Get()) == 0 || !transferQueueManager)
            continue;
        (transferQueueManager->*remove)(entry);
    }
    if (IsEmpty())
        Forget();
    tree->setUpdatesEnabled(updating);
}

void EntryRemoval::Forget()
{
    queue.clear();
    next = 0;
}

void EntryRemoval::OnEntryRemoved(ItemPtr entry)
{
    chosen.erase(entry.Get());
}
