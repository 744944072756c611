#include "SearchResultListItem.h"

#include <limits>

#include <QTreeWidget>

#include "ViewAddress.h"

SearchResultListItem::SearchResultListItem()
{
    ViewAddress::Enter(this);
}

SearchResultListItem::SearchResultListItem(QTreeWidgetItem* parent) : QTreeWidgetItem(parent)
{
    ViewAddress::Enter(this);
}

SearchResultListItem::SearchResultListItem(QTreeWidget* tree) : QTreeWidgetItem(tree)
{
    ViewAddress::Enter(this);
}

SearchResultListItem::~SearchResultListItem()
{
    ViewAddress::Leave(this);
}

long long SearchResultListItem::Availability(const QString& freeText)
{
    if (freeText == "Y")
        return std::numeric_limits<long long>::max();
    // Not a number (the empty text too) reads as a queue of 0, so "" and "0" are equal.
    return -freeText.toLongLong();
}

bool SearchResultListItem::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* tree = treeWidget();
    const int column = tree ? tree->sortColumn() : 0;
    switch (column)
    {
    case UserColumn:
    case FolderColumn:
    case FileColumn:
        return text(column).toLower() < other.text(column).toLower();
    case FreeColumn: {
        const long long mine = Availability(text(FreeColumn));
        const long long theirs = Availability(other.text(FreeColumn));
        if (mine != theirs)
            return mine < theirs;
        const double mySpeed = text(SpeedColumn).toDouble();
        const double theirSpeed = other.text(SpeedColumn).toDouble();
        if (mySpeed != theirSpeed)
            return mySpeed < theirSpeed;
        // Swapped, so that descending order lists the names from A to Z.
        return other.text(FileColumn) < text(FileColumn);
    }
    case SpeedColumn:
        return text(SpeedColumn).toDouble() < other.text(SpeedColumn).toDouble();
    case SizeColumn:
    case AttributesColumn: {
        const int role = column == SizeColumn ? sizeRole : bitrateRole;
        const QVariant mine = data(0, role);
        const QVariant theirs = other.data(0, role);
        // Only file rows carry the numbers; user and folder rows keep their order.
        if (!mine.isValid() || !theirs.isValid())
            return false;
        return mine.toLongLong() > theirs.toLongLong();
    }
    default:
        return false;
    }
}
