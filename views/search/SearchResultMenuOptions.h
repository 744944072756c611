#pragma once

#include <string>

#include <QObject>
#include <QString>

#include "ItemPtr.h"
#include "ItemSet.h"

class QMenu;
class QTreeWidgetItem;

// The result entries of a result tab's context menu: downloading the chosen files or their whole
// folders, and opening a folder in the user's browse tab. Lives while its menu is open.
class SearchResultMenuOptions : public QObject
{
    Q_OBJECT

public:
    SearchResultMenuOptions(QMenu* menu, QTreeWidgetItem* row, QObject* parent);

    // The user of a file or folder row; empty for a user row.
    QString User() const { return user; }
    QString SearchText() const { return searchText; }
    QString Folder() const { return folder; }

    // Queues a result's file as the result tabs do: linked to the search text, its row marked.
    static void Queue(ItemPtr result, bool single, ItemPtr searchTextItem);
    static ItemPtr SearchTextOf(ItemPtr result);
    // Whether folder downloads pass the result's file over for its ending.
    static bool IsExcluded(ItemPtr result);
    static QString UserOf(ItemPtr result);
    // The result of a file row, or every result under a user or folder row, hidden rows
    // included; found through the rows themselves, each once.
    static ItemSet RowResults(QTreeWidgetItem* row);

public slots:
    void OnDownloadFile();
    void OnDownloadFolder();
    void OnBrowseFolder();

private:
    QTreeWidgetItem* row;
    QString searchText;
    QString user;
    QString folder;
    // The folder as the peer named it: text may not tell two folders apart.
    std::string folderBytes;
};
