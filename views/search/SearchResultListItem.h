#pragma once

#include <QTreeWidgetItem>

// A row of a result tab. Its order depends on the column sorted: "Free" puts free slots first,
// then short queues, then fast users; "Size" and "Attributes" order by the numbers of the file
// behind the row, largest first when ascending. The row is entered as a live address while it
// exists, so a store item that still names it after it is gone is never followed.
class SearchResultListItem : public QTreeWidgetItem
{
public:
    enum Column
    {
        UserColumn = 0,
        FreeColumn = 1,
        SpeedColumn = 2,
        FolderColumn = 3,
        FileColumn = 4,
        SizeColumn = 5,
        AttributesColumn = 6,
    };
    // Data roles of a file row: the numbers the size and attribute orders read.
    static constexpr int sizeRole = Qt::UserRole + 1;
    static constexpr int bitrateRole = Qt::UserRole + 2;

    // A row not yet in a tree.
    SearchResultListItem();
    explicit SearchResultListItem(QTreeWidgetItem* parent);
    explicit SearchResultListItem(QTreeWidget* tree);
    ~SearchResultListItem() override;

    bool operator<(const QTreeWidgetItem& other) const override;

    // The "Free" text as one number: a free slot above every queue, shorter queues above longer.
    static long long Availability(const QString& freeText);
};
