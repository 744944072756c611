#include "DownloadMenuOptions.h"

#include <QIcon>
#include <QMenu>

#include "Data.h"
#include "EntryList.h"
#include "GeneralFunctions.h"
#include "LocalPath.h"
#include "PeerTypes.h"
#include "SearchForm.h"
#include "SearchTypes.h"
#include "Server.h"
#include "ServerTypes.h"
#include "TransferQueueManager.h"
#include "TransferRow.h"
#include "TransferTypes.h"
#include "TransfersForm.h"
#include "TransfersViewTypes.h"
#include "Type.h"

using namespace TransferTypes;
using TransfersViewTypes::completeDownloadAlert;

namespace {
void Uncount(std::unordered_map<Item*, size_t>& counts, ItemPtr item)
{
    auto counted = counts.find(item.Get());
    if (counted != counts.end() && --counted->second == 0)
        counts.erase(counted);
}

bool IsComplete(ItemPtr entry)
{
    return entry[downloadEntryStatus].AsString() == TransferStatus::complete;
}

bool HasUnfinished(const ItemSet& entries)
{
    return !entries.NotConnected(downloadEntryStatus, Value(TransferStatus::complete)).Empty();
}

// The search a download came from; the search views relate the two types, and without them
// there is none.
ItemPtr SearchTextOf(ItemPtr entry)
{
    Type* texts = d.HasType(PeerTypes::searchRequestText);
    if (!texts || !entry.GetType()->FindRelation(texts))
        return ItemPtr();
    return entry[PeerTypes::searchRequestText];
}

QString Plural(size_t count, const char* one, const char* many)
{
    return DownloadMenuOptions::tr(count > 1 ? many : one);
}
} // namespace

DownloadMenuOptions::DownloadMenuOptions(QMenu* menu, ItemSet chosen, QObject* parent)
    : QObject(parent), entries(std::move(chosen))
{
    if (entries.Empty())
        return;
    Listen(d.GetType(downloadEntry)->itemRemoved, this, &DownloadMenuOptions::OnEntryRemoved);
    const size_t count = entries.Size();
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    if (count == 1 && IsComplete(First()))
        menu->addAction(QIcon(":/icons/play_icon"), tr("Open File"), this,
                        &DownloadMenuOptions::OnOpenFile);
    menu->addAction(QIcon(":/icons/folder_icon"), tr("Open Folder"), this,
                    &DownloadMenuOptions::OnOpenFolder);
    ItemPtr status = First()[downloadEntryStatus];
    if (count > 1 || (!IsComplete(First()) && !status.IsConnected(isActive)))
        menu->addAction(QIcon(":/icons/transfer_icon"),
                        Plural(count, "Retry download", "Retry downloads"), this,
                        &DownloadMenuOptions::OnRetryDownloads);
    menu->addSeparator();
    menu->addAction(QIcon(":/icons/transfer_icon"),
                    Plural(count, "Remove download", "Remove downloads"), this,
                    &DownloadMenuOptions::OnRemoveDownloads);
    FindSingles();
    AddAlertMenu(menu);
    ItemPtr search = SearchTextOf(First());
    if (!search.IsNull())
    {
        searchText = search.AsString();
        menu->addAction(QIcon(":/icons/search_icon"), tr("Re-run Search: ") + ShownName(searchText),
                        this, &DownloadMenuOptions::OnRerunSearch);
    }
}

ItemPtr DownloadMenuOptions::First() const
{
    return entries.Empty() ? ItemPtr() : *entries.begin();
}

void DownloadMenuOptions::FindSingles()
{
    entries.ForEach([this](ItemPtr entry) {
        if (ItemPtr user = entry[ServerTypes::user]; !user.IsNull())
            ++userCounts[user.Get()];
        if (ItemPtr folder = entry[remoteFolder]; !folder.IsNull())
            ++folderCounts[folder.Get()];
    });
    SetSingles();
}

void DownloadMenuOptions::SetSingles()
{
    singleUser = userCounts.size() == 1 ? ItemPtr(userCounts.begin()->first) : ItemPtr();
    singleFolder = folderCounts.size() == 1 ? ItemPtr(folderCounts.begin()->first) : ItemPtr();
}

void DownloadMenuOptions::AddAlertMenu(QMenu* menu)
{
    auto* alerts = new QMenu(tr("Notify me when..."), menu);
    alerts->setIcon(QIcon(":/icons/alert_icon"));
    ItemPtr first = First();
    if (entries.Size() == 1 && !first.IsConnected(completeDownloadAlert) && !IsComplete(first))
        alerts->addAction(tr("File download completes"), this,
                          &DownloadMenuOptions::OnSetFileDownloadAlert);
    if (OffersFolderAlert())
        alerts->addAction(tr("Folder download completes"), this,
                          &DownloadMenuOptions::OnSetFolderDownloadAlert);
    if (OffersUserAlert())
        alerts->addAction(tr("All downloads from user complete"), this,
                          &DownloadMenuOptions::OnSetUserDownloadAlert);
    if (alerts->actions().isEmpty())
        delete alerts;
    else
        menu->addMenu(alerts);
}

bool DownloadMenuOptions::OffersFolderAlert() const
{
    if (singleFolder.IsNull() || singleUser.IsNull())
        return false;
    if (!singleFolder.GetItems(completeDownloadAlert).Connected(singleUser).Empty())
        return false;
    return HasUnfinished(singleFolder.GetItems(downloadEntry).Connected(singleUser));
}

bool DownloadMenuOptions::OffersUserAlert() const
{
    if (singleUser.IsNull())
        return false;
    if (singleUser[TransfersViewTypes::downloadListUserNode]
            .GetItems(TransfersViewTypes::downloadListFolderNode)
            .Size() < 2)
        return false;
    if (!singleUser.GetItems(completeDownloadAlert).NotConnected(remoteFolder).Empty())
        return false;
    return HasUnfinished(singleUser.GetItems(downloadEntry));
}

void DownloadMenuOptions::OnEntryRemoved(ItemPtr entry)
{
    if (!entries.Contains(entry))
        return;
    entries.Erase(entry);
    // The store tells of a removal while the entry still has its connections.
    Uncount(userCounts, entry[ServerTypes::user]);
    Uncount(folderCounts, entry[remoteFolder]);
    SetSingles();
}

void DownloadMenuOptions::OnRemoveDownloads()
{
    if (transfersForm)
        transfersForm->RemoveDownloads(entries);
}

void DownloadMenuOptions::OnRetryDownloads()
{
    const std::vector<ItemPtr> chosen = EntryList(entries);
    for (ItemPtr entry : chosen)
        if (transferQueueManager)
            transferQueueManager->RequeueDownload(entry);
}

void DownloadMenuOptions::OnRerunSearch()
{
    if (!gp_server || !searchForm || searchText.isEmpty())
        return;
    const unsigned int token = gp_server->FileSearch(searchText, false);
    searchForm->CreateSearchForm(token, searchText, NetworkSearch);
}

void DownloadMenuOptions::OnOpenFile()
{
    if (!entries.Empty() && transferQueueManager)
        OpenLocalPath(transferQueueManager->GetDownloadTargetPath(First(), true));
}

void DownloadMenuOptions::OnOpenFolder()
{
    if (!entries.Empty() && transferQueueManager)
        OpenLocalPath(transferQueueManager->GetDownloadTargetFolder(First(), true));
}

void DownloadMenuOptions::OnSetFileDownloadAlert()
{
    ItemPtr entry = First();
    if (entry.IsNull() || entry.IsConnected(completeDownloadAlert))
        return;
    if (QTreeWidgetItem* row = TransferRow::Of(entry[TransfersViewTypes::downloadListNode]))
        row->setIcon(TransfersForm::FileColumn, QIcon(":/icons/alert_icon"));
    entry.Connect(d.GetType(completeDownloadAlert)->NewItem());
}

void DownloadMenuOptions::OnSetFolderDownloadAlert()
{
    if (entries.Empty() || !OffersFolderAlert())
        return;
    ItemPtr node = d.GetItem(singleUser[TransfersViewTypes::downloadListUserNode], singleFolder,
                             TransfersViewTypes::downloadListFolderNode);
    if (QTreeWidgetItem* row = TransferRow::Of(node))
        row->setIcon(TransfersForm::FolderColumn, QIcon(":/icons/alert_icon"));
    ItemPtr alert = d.GetType(completeDownloadAlert)->NewItem();
    alert.Connect(singleUser);
    alert.Connect(singleFolder);
}

void DownloadMenuOptions::OnSetUserDownloadAlert()
{
    if (entries.Empty() || !OffersUserAlert())
        return;
    if (QTreeWidgetItem* row =
            TransferRow::Of(singleUser[TransfersViewTypes::downloadListUserNode]))
        row->setIcon(TransfersForm::UserColumn, QIcon(":/icons/alert_icon"));
    ItemPtr(d.GetType(completeDownloadAlert)->NewItem()).Connect(singleUser);
}
