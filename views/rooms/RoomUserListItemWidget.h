#pragma once

#include <QTreeWidgetItem>

// One user of a room's user list. Each column that does not sort by its text keeps its sort
// key in Qt::UserRole, set when the row is made.
class QRoomUserListItemWidget : public QTreeWidgetItem
{
public:
    QRoomUserListItemWidget() = default;

    bool operator<(const QTreeWidgetItem& other) const override;
};
