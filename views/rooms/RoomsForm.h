#pragma once

#include <QWidget>

#include "ConnectionInfo.h"
#include "DataHandler.h"
#include "ItemPtr.h"

class QTreeWidgetItem;
class Ui_RoomsForm;

// The Rooms tab: the list of the server's rooms, and a tab per joined room, per open room log
// and per open wall.
class RoomsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit RoomsForm(QWidget* parent = nullptr);
    ~RoomsForm() override;

    void Init();

    Ui_RoomsForm* Form() const { return ui; }

    void OnRoomAdded(ItemPtr i_room);
    void OnRoomUserCountChanged(ItemPtr i_room);
    void OnBecomingRoomOwner(ItemPtr i_room);
    void OnBecomingRoomOperator(ItemPtr i_room);
    void OnBecomingRoomMember(ItemPtr i_room);
    void OnLosingRoomRole(ItemPtr i_room);
    void OnEnteredRoom(ConnectionInfo& i_connection);

public slots:
    void OnRoomListContextMenuRequested(const QPoint& i_position);
    void OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnEnterRoom();
    void OnConnected();
    void OnPrivateRoomAddEnabled(bool i_enabled);
    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);
    void OnRoomTabClosed(int i_index);

private:
    QTreeWidgetItem* RowOf(ItemPtr room) const;
    void ChangeRowFont(ItemPtr room, bool italic, bool underline, bool bold);
    void ToggleMark(ItemPtr room, const char* mark);
    void OpenChatLog(ItemPtr room);
    void OpenWall(ItemPtr room);
    void GiveUpMembership(ItemPtr room);
    void GiveUpOwnership(ItemPtr room);

    Ui_RoomsForm* ui;
};
