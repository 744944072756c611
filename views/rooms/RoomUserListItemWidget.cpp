#include "RoomUserListItemWidget.h"

#include "RoomForm.h"

bool QRoomUserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const int column = treeWidget() ? treeWidget()->sortColumn() : RoomForm::nameColumn;
    const QVariant mine = data(column, Qt::UserRole);
    const QVariant theirs = other.data(column, Qt::UserRole);
    switch (column)
    {
    case RoomForm::flagColumn:
        return mine.toString().compare(theirs.toString(), Qt::CaseInsensitive) < 0;
    case RoomForm::noteColumn:
        return mine.toBool() && !theirs.toBool();
    // The largest first in ascending order.
    case RoomForm::filesColumn:
    case RoomForm::speedColumn:
        return mine.toLongLong() > theirs.toLongLong();
    default:
        return text(RoomForm::nameColumn)
                   .compare(other.text(RoomForm::nameColumn), Qt::CaseInsensitive) < 0;
    }
}
