#pragma once

#include <QDialog>

class Ui_UserNoteDialog;

// Edits the note kept about one user; one dialog per user at a time.
class UserNoteDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char* dialogType = "user_note_dialog";

    static void Init();
    static UserNoteDialog* GetDialog(QString i_user);

    UserNoteDialog(QString i_user, QWidget* parent = nullptr);
    ~UserNoteDialog() override;

    Ui_UserNoteDialog* Form() const { return ui; }

public slots:
    void OnSaveNote();
    void OnClearNote();

private:
    QString user;
    Ui_UserNoteDialog* ui;
};
