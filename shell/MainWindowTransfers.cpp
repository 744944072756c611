#include "MainWindow.h"

#include "ViewHooks.h"
#include "ui_mainwindow.h"

void MainWindow::CreateTransfersPage()
{
    if (ViewHooks::createTransfersPage)
        ViewHooks::createTransfersPage(ui->transfersTab);
}

void MainWindow::InitTransfersPage()
{
    if (ViewHooks::initTransfers)
        ViewHooks::initTransfers();
}
