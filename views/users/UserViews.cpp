#include "UserViews.h"

#include <QLayout>

#include "UserGroupsDialog.h"
#include "UserInfoForm.h"
#include "UserListForm.h"
#include "UserNoteDialog.h"
#include "ViewHooks.h"

namespace UserViews {
namespace {
void CreateUsersPage(QWidget* usersTab)
{
    usersTab->layout()->addWidget(new UserListForm(usersTab));
}

void InitUserList()
{
    if (userListForm)
        userListForm->Init();
}

void InitUserNotes()
{
    UserNoteDialog::Init();
}

QWidget* UserInfo(const QString& user)
{
    return userListForm ? userListForm->GetUserInfoForm(user) : nullptr;
}

void UserGroups(const QString& user)
{
    (new UserGroupsDialog(user))->show();
}

void UserNote(const QString& user)
{
    UserNoteDialog::GetDialog(user)->show();
}
} // namespace

void Install()
{
    ViewHooks::createUsersPage = &CreateUsersPage;
    ViewHooks::initUserList = &InitUserList;
    ViewHooks::initUserNotes = &InitUserNotes;
    ViewHooks::userInfo = &UserInfo;
    ViewHooks::userGroups = &UserGroups;
    ViewHooks::userNote = &UserNote;
}
} // namespace UserViews
