#include "RoomListItemWidget.h"

#include "Data.h"
#include "ServerTypes.h"

namespace {
ItemPtr RoomNamed(const QString& name)
{
    return d.GetType(ServerTypes::room)->HasItem(Value(name));
}
} // namespace

QRoomListItemWidget::QRoomListItemWidget(QTreeWidget* list) : QTreeWidgetItem(list)
{}

bool QRoomListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    if (treeWidget() && treeWidget()->sortColumn() != 0)
        return text(1).toLongLong() < other.text(1).toLongLong();
    ItemPtr mine = RoomNamed(text(0));
    ItemPtr theirs = RoomNamed(other.text(0));
    for (const char* role : {ServerTypes::isOwner, ServerTypes::isOperator, ServerTypes::isMember})
    {
        const bool a = !mine.IsNull() && mine.IsConnected(role);
        const bool b = !theirs.IsNull() && theirs.IsConnected(role);
        if (a != b)
            return a;
    }
    return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
}
