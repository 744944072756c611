#include "SearchResultMenuOptions.h"

#include <vector>

#include <QMenu>
#include <QTreeWidget>

#include "Data.h"
#include "PeerTypes.h"
#include "SearchResultsForm.h"
#include "SearchTypes.h"
#include "ServerTypes.h"
#include "ShareForm.h"
#include "SharesForm.h"
#include "TransferQueueManager.h"

using namespace PeerTypes;

namespace {
// The column that shows a file's name, where a queued file gets its icon.
constexpr int fileColumn = 4;

ItemPtr NodeOf(const char* type, QTreeWidgetItem* row)
{
    return d.GetType(type)->HasItem(Value(row));
}

ItemPtr TextItem(const QString& text)
{
    return text.isEmpty() ? ItemPtr() : ItemPtr(d.GetType(searchRequestText)->GetItem(Value(text)));
}
} // namespace

bool SearchResultMenuOptions::IsExcluded(ItemPtr result)
{
    return transferQueueManager && transferQueueManager->HasExcludedDownloadExtension(
                                       result[searchResultFileName].AsString());
}

SearchResultMenuOptions::SearchResultMenuOptions(QMenu* menu, QTreeWidgetItem* row, QObject* parent)
    : QObject(parent), row(row)
{
    ItemPtr result = SearchResultsForm::ResultOf(row);
    if (!result.IsNull())
    {
        searchText = SearchTextOf(result).AsString();
        folderBytes = result[searchResultFileFolder].AsStdString();
        folder = result[searchResultFileFolder].AsString();
        user = UserOf(result);
        menu->addAction(QIcon(":/icons/download_icon"), tr("Download File(s)"), this,
                        &SearchResultMenuOptions::OnDownloadFile);
    }
    else if (row->parent())
    {
        // The user of the row's own user row and the search of its own files: another tab may
        // show a folder of the same name for another user or search.
        folderBytes = NodeOf(SearchTypes::folderNode, row)[searchResultFileFolder].AsStdString();
        folder = NodeOf(SearchTypes::folderNode, row)[searchResultFileFolder].AsString();
        user = SearchResultsForm::GetNodeUserNode(row)->text(0);
        searchText = SearchTextOf(RowResults(row)).AsString();
    }
    else
    {
        return;
    }
    menu->addAction(QIcon(":/icons/downloads_icon"), tr("Download Folder(s)"), this,
                    &SearchResultMenuOptions::OnDownloadFolder);
    menu->addAction(QIcon(":/icons/browse_icon"), tr("Browse Folder"), this,
                    &SearchResultMenuOptions::OnBrowseFolder);
}

ItemPtr SearchResultMenuOptions::SearchTextOf(ItemPtr result)
{
    return result[searchResults][searchRequest][searchRequestText];
}

QString SearchResultMenuOptions::UserOf(ItemPtr result)
{
    return result[searchResults][ServerTypes::user].AsString();
}

ItemSet SearchResultMenuOptions::RowResults(QTreeWidgetItem* row)
{
    ItemSet results;
    if (!row)
        return results;
    // Rows are at most three deep: user, folder, file.
    std::vector<QTreeWidgetItem*> pending{row};
    while (!pending.empty())
    {
        QTreeWidgetItem* next = pending.back();
        pending.pop_back();
        ItemPtr result = SearchResultsForm::ResultOf(next);
        if (!result.IsNull())
            results.Insert(result);
        for (int index = 0; index < next->childCount(); ++index)
            pending.push_back(next->child(index));
    }
    return results;
}

void SearchResultMenuOptions::Queue(ItemPtr result, bool single, ItemPtr searchTextItem)
{
    if (!transferQueueManager)
        return;
    ItemPtr entry = transferQueueManager->AddDownload(
        UserOf(result), result[searchResultFileName].AsStdString(),
        result[searchResultFileFolder].AsStdString(), result[fileSize].AsInt64(), single, 0);
    if (!searchTextItem.IsNull())
        entry.Connect(searchTextItem);
    // A result node lives as long as its row.
    ItemPtr node = result[SearchTypes::resultNode];
    if (!node.IsNull())
        node.AsPointer<QTreeWidgetItem>()->setIcon(fileColumn, QIcon(":/icons/download_icon"));
}

void SearchResultMenuOptions::OnDownloadFile()
{
    const QList<QTreeWidgetItem*> rows = row->treeWidget()->selectedItems();
    const bool single = rows.size() == 1;
    ItemPtr text = TextItem(searchText);
    // Rows that are not files are passed over, so that no chosen file is left out.
    for (QTreeWidgetItem* selected : rows)
    {
        ItemPtr result = SearchResultsForm::ResultOf(selected);
        if (!result.IsNull())
            Queue(result, single, text);
    }
}

void SearchResultMenuOptions::OnDownloadFolder()
{
    ItemSet results;
    for (QTreeWidgetItem* selected : row->treeWidget()->selectedItems())
    {
        // A file row takes its folder's files of the same answer; a user row takes nothing.
        ItemPtr result = SearchResultsForm::ResultOf(selected);
        if (!result.IsNull())
            results.Add(result[searchResults]
                            .GetItems(searchResult)
                            .Connected(result[searchResultFileFolder]));
        else if (selected->parent())
            results.Add(RowResults(selected));
    }
    ItemPtr text = TextItem(searchText);
    for (ItemPtr result : results.SortAlphabeticBy(searchResultFileName, true, true))
        if (!IsExcluded(result))
            Queue(result, false, text);
}

void SearchResultMenuOptions::OnBrowseFolder()
{
    if (!sharesForm || user.isEmpty())
        return;
    sharesForm->OpenShareBrowse(user)->BrowseToFolder(folderBytes);
}
