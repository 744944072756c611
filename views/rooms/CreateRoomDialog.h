#pragma once

#include <QDialog>

class Ui_CreateRoomDialog;

// Asks for the name of a room to create or enter, and whether a new one is private.
class CreateRoomDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CreateRoomDialog(QWidget* parent = nullptr);
    ~CreateRoomDialog() override;

    Ui_CreateRoomDialog* Form() const { return ui; }

public slots:
    void OnButtonClicked();

private:
    Ui_CreateRoomDialog* ui;
};

// The one open dialog, or null.
extern CreateRoomDialog* createRoomDialog;
