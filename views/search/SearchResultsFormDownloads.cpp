#include "SearchResultsForm.h"

#include <algorithm>
#include <vector>

#include "SearchResultMenuOptions.h"

void SearchResultsForm::OnResultDoubleClicked(QTreeWidgetItem* ip_row, int)
{
    if (!ip_row)
        return;
    // Rows hidden by the filter are still rows, so a user or folder takes them too.
    ItemSet results = SearchResultMenuOptions::RowResults(ip_row);
    const bool single = !ResultOf(ip_row).IsNull();
    std::vector<ItemPtr> ordered;
    for (ItemPtr result : results)
        if (!result.IsNull())
            ordered.push_back(result);
    if (ordered.empty())
        return;
    std::stable_sort(ordered.begin(), ordered.end(), &SearchResultsForm::CompareSearchResults);
    ItemPtr text = SearchResultMenuOptions::SearchTextOf(ordered.front());
    for (ItemPtr result : ordered)
    {
        // A file chosen alone is queued whatever its ending.
        if (!single && SearchResultMenuOptions::IsExcluded(result))
            continue;
        SearchResultMenuOptions::Queue(result, single, text);
    }
}
