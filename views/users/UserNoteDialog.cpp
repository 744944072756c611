#include "UserNoteDialog.h"

#include "Data.h"
#include "ServerTypes.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "ui_UserNoteDialog.h"

namespace {
ItemPtr UserItem(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}
} // namespace

void UserNoteDialog::Init()
{
    Type* dialogs = d.NewType(dialogType, PrimacyRoot, false, true);
    dialogs->RelateToType(d.GetType(ServerTypes::user), One, One, false);
}

UserNoteDialog* UserNoteDialog::GetDialog(QString i_user)
{
    ItemPtr userItem = UserItem(i_user);
    if (auto* open = ViewAddress::Find<UserNoteDialog>(userItem[dialogType]))
    {
        open->activateWindow();
        return open;
    }
    auto* dialog = new UserNoteDialog(i_user);
    ItemPtr(d.GetType(dialogType)->GetItem(ViewAddress::Of(dialog))).Connect(userItem);
    return dialog;
}

UserNoteDialog::UserNoteDialog(QString i_user, QWidget* parent)
    : QDialog(parent), user(std::move(i_user)), ui(new Ui_UserNoteDialog)
{
    ViewAddress::Enter(this);
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // Notes are plain text: one that looks like markup is kept exactly as typed.
    ItemPtr note = UserItem(user)[WindowTypes::userNote];
    if (!note.IsNull())
        ui->noteEdit->setPlainText(note.AsString());
    setWindowIcon(QIcon(":/icons/note_icon"));
    setWindowTitle(user);
    connect(ui->saveButton, &QPushButton::clicked, this, &UserNoteDialog::OnSaveNote);
    connect(ui->clearButton, &QPushButton::clicked, this, &UserNoteDialog::OnClearNote);
}

UserNoteDialog::~UserNoteDialog()
{
    ViewAddress::Leave(this);
    if (Type* dialogs = d.HasType(dialogType))
        if (ItemPtr record = dialogs->HasItem(ViewAddress::Of(this)); !record.IsNull())
            record.Remove();
    delete ui;
}

void UserNoteDialog::OnSaveNote()
{
    const QString text = ui->noteEdit->toPlainText().trimmed();
    ItemPtr userItem = UserItem(user);
    if (text.isEmpty())
        userItem.Disconnect(WindowTypes::userNote);
    else
        userItem.Connect(d.GetType(WindowTypes::userNote)->GetItem(Value(text)));
    accept();
}

void UserNoteDialog::OnClearNote()
{
    ui->noteEdit->clear();
}
