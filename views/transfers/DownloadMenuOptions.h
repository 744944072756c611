#pragma once

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
    ItemPtr First() const;
};
