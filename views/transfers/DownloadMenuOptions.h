#pragma once

#include <unordered_map>

#include <QObject>
#include <QString>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"

class QMenu;

// The download entries of a right-click menu over the downloads tree. The menu runs in a nested
// event loop, so an entry may be removed while it is open: the options follow the store and
// forget it, and a chosen action then leaves it alone.
class DownloadMenuOptions : public QObject, public DataHandler
{
    Q_OBJECT

public:
    DownloadMenuOptions(QMenu* menu, ItemSet entries, QObject* parent = nullptr);

    ItemSet entries;
    QString searchText;
    ItemPtr singleUser;
    ItemPtr singleFolder;

public slots:
    void OnRemoveDownloads();
    void OnRerunSearch();
    void OnOpenFile();
    void OnOpenFolder();
    void OnSetFileDownloadAlert();
    void OnSetFolderDownloadAlert();
    void OnSetUserDownloadAlert();
    void OnRetryDownloads();

private:
    void AddAlertMenu(QMenu* menu);
    bool OffersFolderAlert() const;
    bool OffersUserAlert() const;
    void OnEntryRemoved(ItemPtr entry);
    void FindSingles();
    void SetSingles();
    ItemPtr First() const;

    // How many chosen entries each user and each remote folder has: taken once when the menu
    // opens, so that an entry removed meanwhile costs a count, not a walk of those left.
    std::unordered_map<Item*, size_t> userCounts;
    std::unordered_map<Item*, size_t> folderCounts;
};
