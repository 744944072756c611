#pragma once

#include <QHash>

#include "ChatView.h"
#include "ItemPtr.h"

class QTreeWidgetItem;
class QUrl;
class Ui_RoomForm;

// The page of one joined room: its chat, the input line and the list of its users. Deleting
// the page leaves the room, unless the server already said the user left.
class RoomForm : public ChatView
{
    Q_OBJECT

public:
    enum Column
    {
        markColumn = 0,
        flagColumn = 1,
        nameColumn = 2,
        noteColumn = 3,
        filesColumn = 4,
        speedColumn = 5
    };
    // The items that hold an open room page's address.
    static constexpr const char* formType = "room_form";

    RoomForm(const QString& room, QWidget* parent = nullptr);
    ~RoomForm() override;

    void Init();
    // Appends the line to the room's log and to its open log viewer.
    void LogChat(const QString& line);

    Ui_RoomForm* Form() const { return ui; }
    QString Room() const { return room; }
    // Whether the server said the user left: the page is on its way out and no longer shows
    // the room, so that a join read in the same pass opens a page of its own.
    bool HasLeft() const { return leftRoom; }

    void OnUserAdded(ItemPtr i_user);
    void OnUserRemoved(ItemPtr i_user);
    void OnOperatorAdded(ItemPtr i_user);
    void OnOperatorRemoved(ItemPtr i_user);
    void OnUserNoteChanged(ItemPtr i_user);
    void OnUserNoteRemoved(ItemPtr i_user);
    void OnLeftRoom(ItemPtr i_room);
    void OnRoomAutojoinOn(ItemPtr i_room);
    void OnRoomAutojoinOff(ItemPtr i_room);
    void OnRoomActivityAlertOn(ItemPtr i_room);
    void OnRoomActivityAlertOff(ItemPtr i_room);

public slots:
    void OnRoomChat(QString i_room, QString i_user, QString i_chat);
    void OnEnterPressed();
    void OnConnected();
    void OnDisconnected();
    void OnURLClicked(const QUrl& i_url);
    void OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnUserListContextMenuRequested(const QPoint& i_point);

private:
    ItemPtr RoomItem() const;
    QTreeWidgetItem* RowOf(ItemPtr user) const;
    void SetNameFont(QTreeWidgetItem* row, int weight, bool underline);
    void SetNoteMark(ItemPtr user, bool hasNote);
    void SetActionTexts();
    // The user count is stored once per burst of joins and leaves, not once per user.
    void ScheduleUserCount();
    void StoreUserCount();

    Ui_RoomForm* ui;
    const QString room;
    bool leftRoom = false;
    bool userCountPending = false;
    // Rows by user name, so that a room of thousands finds a row at once.
    QHash<QString, QTreeWidgetItem*> rows;
};
