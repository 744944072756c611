#include "MainWindow.h"

#include "Server.h"
#include "ViewHooks.h"
#include "ui_mainwindow.h"

void MainWindow::CreateChatPages()
{
    if (ViewHooks::createPages)
        ViewHooks::createPages(ui->roomsTab, ui->chatTab);
}

void MainWindow::ConnectPrivateChat()
{
    connect(gp_server, &Server::PrivateChat, this, &MainWindow::OnPrivateChat);
}

void MainWindow::InitPagesBeforeLoad()
{
    if (ViewHooks::initBeforeLoad)
        ViewHooks::initBeforeLoad();
}

void MainWindow::InitRoomsPage()
{
    if (ViewHooks::initRooms)
        ViewHooks::initRooms();
}

void MainWindow::InitChatsPage()
{
    if (ViewHooks::initChats)
        ViewHooks::initChats();
}

void MainWindow::OpenPrivateChat(const QString& user)
{
    if (ViewHooks::openChat && !user.isEmpty())
        ViewHooks::openChat(user);
}

void MainWindow::OnPrivateChat(QString i_user, QString i_chat, time_t, bool)
{
    // The server's time is not shown: the line carries the local time of its arrival.
    if (ViewHooks::privateChat)
        ViewHooks::privateChat(i_user, i_chat);
}
