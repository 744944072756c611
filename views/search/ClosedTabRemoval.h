#pragma once

#include <functional>
#include <vector>

#include <QList>
#include <QObject>
#include <QTimer>

#include "ItemPtr.h"

class QTreeWidgetItem;

// What a closed tab leaves behind: its store items (the answers to a result tab's searches, the
// share a browse tab showed) and its rows, already taken out of the tree. A tab of 100,000 results
// takes about half a second to take apart, so the work goes in slices, one per pass of the event
// loop, after the tab has left the window; a small tab is gone within the first slice. The store's
// items go first: a node names its row by address, and a freed row's address may be handed to a row
// of another tab.
class ClosedTabRemoval : public QObject
{
    Q_OBJECT

public:
    // Work of one slice, about 10 ms each.
    static constexpr int resultsPerSlice = 4000;
    static constexpr int rowsPerSlice = 5000;

    explicit ClosedTabRemoval(QObject* parent = nullptr);
    // Finishes whatever is left.
    ~ClosedTabRemoval() override;

    // Removes up to the budget of a tab's store items; returns what is left of the budget, 0 while
    // items remain. Only the removal reaches the items it takes apart.
    using StoreWork = std::function<int(int budget)>;

    // Takes the searches, by token, and the rows of one tab, and runs the first slice.
    void Add(const std::vector<unsigned int>& searchTokens, const QList<QTreeWidgetItem*>& tabRows);
    // Takes the work on a tab's store items, if any, and its rows, and runs the first slice.
    void Add(StoreWork work, const QList<QTreeWidgetItem*>& tabRows);
    bool IsEmpty() const { return tokens.empty() && works.empty() && rows.isEmpty(); }

    // Removes the item, then those of its valued leaf partners (file names, sizes, speeds) that
    // nothing else holds any more.
    static void RemoveWithBareLeaves(ItemPtr item);
    // Removes an answer that nothing shows, with its results and their bare leaves.
    static void RemoveAnswer(ItemPtr answer);

public slots:
    // One slice; the next follows on a later pass while work remains.
    void Step();

private:
    // Removes up to the budget of results with their answers; returns what is left of it.
    int RemoveResults(int budget);
    int RunWorks(int budget);
    void DeleteRows(int budget);

    // Searches whose answers are still in the store; they are stopped, so no answer joins them.
    std::vector<unsigned int> tokens;
    std::vector<StoreWork> works;
    QList<QTreeWidgetItem*> rows;
    QTimer timer;
};
