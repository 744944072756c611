#include "MainWindow.h"

#include "ViewHooks.h"
#include "ui_mainwindow.h"

void MainWindow::CreateUsersPage()
{
    if (ViewHooks::createUsersPage)
        ViewHooks::createUsersPage(ui->tab_2);
}

void MainWindow::InitUserList()
{
    if (ViewHooks::initUserList)
        ViewHooks::initUserList();
}

void MainWindow::InitUserNotes()
{
    if (ViewHooks::initUserNotes)
        ViewHooks::initUserNotes();
}
