#include "UserListItemWidget.h"

UserListItemWidget::UserListItemWidget(QTreeWidget* tree) : QTreeWidgetItem(tree, 0)
{}

void UserListItemWidget::SetOnline(bool online)
{
    setData(0, onlineRole, online);
}

bool UserListItemWidget::IsOnline() const
{
    return data(0, onlineRole).toBool();
}

bool UserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const bool online = IsOnline();
    const bool otherOnline = other.data(0, onlineRole).toBool();
    if (online != otherOnline)
        return online;
    const QString name = text(0);
    const QString otherName = other.text(0);
    const int order = name.compare(otherName, Qt::CaseInsensitive);
    // Names equal but for case keep one order from sort to sort.
    return order != 0 ? order < 0 : name < otherName;
}
