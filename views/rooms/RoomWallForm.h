#pragma once

#include <QWidget>

#include "DataHandler.h"
#include "ItemPtr.h"

class Ui_RoomWallForm;

// A room's wall: the ticker lines users set for the room, newest first, and a line to set the
// own one.
class RoomWallForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // Names the form's items hold its address in.
    static constexpr const char* formType = "room_wall_form";

    RoomWallForm(const QString& room, QWidget* parent = nullptr);
    ~RoomWallForm() override;

    // The wall as the view shows it: one table row per line, newest first.
    QString TableHtml() const;
    void UpdateText();
    void OnNewTicker(ItemPtr i_ticker);

    Ui_RoomWallForm* Form() const { return ui; }

public slots:
    void OnEnterPressed();

private:
    // Coalesces the redraws of one burst of store changes into one.
    void ScheduleUpdate();

    Ui_RoomWallForm* ui;
    const QString room;
    bool updatePending = false;
};
