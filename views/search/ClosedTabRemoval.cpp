#include "ClosedTabRemoval.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <QTreeWidgetItem>

#include "Data.h"
#include "Item.h"
#include "PeerTypes.h"
#include "SearchTypes.h"

using namespace PeerTypes;

void ClosedTabRemoval::RemoveWithBareLeaves(ItemPtr item)
{
    std::vector<ItemPtr> leaves;
    for (const TypeItemsMap::Entry& entry : item->connections)
        if (entry.type->primacy == PrimacyLeaf && !entry.type->isNull)
            entry.items.ForEach([&leaves](ItemPtr leaf) { leaves.push_back(leaf); });
    item.Remove();
    for (ItemPtr leaf : leaves)
        if (d.IsAlive(leaf) && leaf.IsDisconnectedFromAll())
            leaf.Remove();
}

void ClosedTabRemoval::RemoveAnswer(ItemPtr answer)
{
    for (ItemPtr result : answer.GetItems(searchResult))
        RemoveWithBareLeaves(result);
    RemoveWithBareLeaves(answer);
}

ClosedTabRemoval::ClosedTabRemoval(QObject* parent) : QObject(parent)
{
    timer.setSingleShot(true);
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this, &ClosedTabRemoval::Step);
}

ClosedTabRemoval::~ClosedTabRemoval()
{
    while (!IsEmpty())
        Step();
}

void ClosedTabRemoval::Add(const std::vector<unsigned int>& searchTokens,
                           const QList<QTreeWidgetItem*>& tabRows)
{
    Type* stopped = d.GetType(searchStopped);
    for (unsigned int token : searchTokens)
    {
        ItemPtr request = d.GetType(searchRequest)->HasItem(Value(token));
        if (request.IsNull())
            continue;
        request.Connect(stopped->GetGlobalNullItem());
        tokens.push_back(token);
    }
    rows += tabRows;
    Step();
}

void ClosedTabRemoval::Add(StoreWork work, const QList<QTreeWidgetItem*>& tabRows)
{
    if (work)
        works.push_back(std::move(work));
    rows += tabRows;
    Step();
}

void ClosedTabRemoval::Step()
{
    const int left = RunWorks(RemoveResults(resultsPerSlice));
    // Rows are freed only once no node can name them.
    if (tokens.empty() && works.empty())
        DeleteRows(left > 0 ? rowsPerSlice : 0);
#ifdef __GLIBC__
    // The C library merges freed blocks lazily, all at once, when a large block is next freed
    // or asked for: after a tab's rows that took 150 ms of whatever the user did next. Setting
    // an option (here to its default) merges them now, within this slice.
    mallopt(M_MXFAST, 64 * sizeof(size_t) / 4);
#endif
    if (!IsEmpty())
        timer.start();
}

int ClosedTabRemoval::RemoveResults(int budget)
{
    while (!tokens.empty() && budget > 0)
    {
        ItemPtr request = d.GetType(searchRequest)->HasItem(Value(tokens.back()));
        ItemPtr answer = request[searchResults];
        if (answer.IsNull())
        {
            if (!request.IsNull())
                request.Remove();
            tokens.pop_back();
            continue;
        }
        const ItemSet results = answer.GetItems(searchResult);
        for (ItemPtr result : results)
        {
            if (budget-- <= 0)
                return 0;
            result.GetItems(SearchTypes::resultNode).Remove();
            RemoveWithBareLeaves(result);
        }
        RemoveWithBareLeaves(answer);
    }
    return budget;
}

int ClosedTabRemoval::RunWorks(int budget)
{
    while (!works.empty() && budget > 0)
    {
        budget = works.back()(budget);
        if (budget > 0)
            works.pop_back();
    }
    return budget;
}

void ClosedTabRemoval::DeleteRows(int budget)
{
    while (!rows.isEmpty() && budget > 0)
    {
        QTreeWidgetItem* row = rows.takeLast();
        // A user row's size, counted through its folders without touching every file row.
        budget -= 1 + row->childCount();
        for (int f = 0; f < row->childCount(); ++f)
            budget -= row->child(f)->childCount();
        delete row;
    }
}
