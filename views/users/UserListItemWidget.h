#pragma once

#include <QTreeWidgetItem>

// A row of the user list: online users first, then by name without regard to case. The online
// state is kept in the row by the list's handlers, so a sort of thousands of rows never asks
// the store.
class UserListItemWidget : public QTreeWidgetItem
{
public:
    static constexpr int onlineRole = Qt::UserRole;

    explicit UserListItemWidget(QTreeWidget* tree);

    void SetOnline(bool online);
    bool IsOnline() const;

    bool operator<(const QTreeWidgetItem& other) const override;
};
