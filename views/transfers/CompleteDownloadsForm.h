#pragma once

#include <QTreeWidgetItem>
#include <QWidget>

#include "DataLoadedEventHandler.h"
#include "ItemPtr.h"

class Ui_CompleteDownloadsForm;

// A row of the completed downloads, ordered by completion time whatever the sort column.
class CompleteDownloadItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override;
};

// The downloads the transfer engine has finished and placed, newest first. Made by the first
// "complete_downloads" command of the Transfers tab, and kept from then on.
class CompleteDownloadsForm : public QWidget, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum Column
    {
        FileColumn,
        FolderColumn,
        UserColumn,
        SizeColumn,
        CompletionTimeColumn,
    };

    explicit CompleteDownloadsForm(QWidget* parent = nullptr);
    ~CompleteDownloadsForm() override;

    void Init();
    void DataLoaded() override;
    Ui_CompleteDownloadsForm* Form() const { return ui; }
    // The whole name behind a cell of a row, read from its record; empty for other cells.
    static QString WholeName(QTreeWidgetItem* row, int column);

public slots:
    void OnCompleteDownloadAdded(ItemPtr download);

private:
    // The row of a record not yet shown, outside the list; null when it has one.
    QTreeWidgetItem* MakeRow(ItemPtr download);

    Ui_CompleteDownloadsForm* ui;
};

extern CompleteDownloadsForm* completeDownloadsForm;
