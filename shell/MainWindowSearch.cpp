#include "MainWindow.h"

#include "ViewHooks.h"
#include "ui_mainwindow.h"

void MainWindow::CreateSearchPage()
{
    if (ViewHooks::createSearchPage)
        ViewHooks::createSearchPage(ui->searchTab);
}

void MainWindow::InitSearchPage()
{
    if (ViewHooks::initSearch)
        ViewHooks::initSearch();
}

void MainWindow::CreateBrowsePage()
{
    if (ViewHooks::createBrowsePage)
        ViewHooks::createBrowsePage(ui->sharesTab);
}

void MainWindow::InitBrowsePage()
{
    if (ViewHooks::initBrowse)
        ViewHooks::initBrowse();
}
