#pragma once

#include <QTreeWidgetItem>

// One row of the room list: the room's name and its user count. By name, rooms the user owns
// come first, then those the user operates, then member rooms, then the rest.
class QRoomListItemWidget : public QTreeWidgetItem
{
public:
    explicit QRoomListItemWidget(QTreeWidget* list);

    bool operator<(const QTreeWidgetItem& other) const override;
};
