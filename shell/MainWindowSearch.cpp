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
