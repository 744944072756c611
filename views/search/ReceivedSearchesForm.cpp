#include "ReceivedSearchesForm.h"

#include "ActionSetToolBar.h"
#include "Server.h"
#include "SharedFoldersManager.h"
#include "ui_ReceivedSearchesForm.h"

ReceivedSearchesForm* receivedSearchesForm = nullptr;

ReceivedSearchesForm::ReceivedSearchesForm(QWidget* parent)
    : QWidget(parent), ui(new Ui_ReceivedSearchesForm)
{
    receivedSearchesForm = this;
    ui->setupUi(this);
    ui->searchList->setColumnCount(2);
    ui->searchList->setHeaderLabels({tr("Search"), tr("Match")});
    ui->searchList->setColumnWidth(0, 320);
    ui->searchList->setColumnWidth(1, 50);
}

ReceivedSearchesForm::~ReceivedSearchesForm()
{
    if (receivedSearchesForm == this)
        receivedSearchesForm = nullptr;
    delete ui;
}

void ReceivedSearchesForm::Init()
{
    // The shares manager says of every search it was given whether it answered it; without one,
    // the searches the server relays are listed as they arrive, unanswered.
    if (sharedFoldersManager)
        connect(sharedFoldersManager, &SharedFoldersManager::SearchProcessed, this,
                &ReceivedSearchesForm::OnSearchProcessed);
    else if (gp_server)
        connect(gp_server, &Server::DirectFileSearch, this,
                [this](QString, quint32, QString i_search) { OnSearchProcessed(i_search, false); });
    if (!actionBar)
        return;
    actionBar->AddSetAction("received_searches", "pause_unpause", tr("Pause"), ":/icons/pause_icon",
                            false);
    actionBar->RegisterWidget(this, "received_searches");
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
            &ReceivedSearchesForm::OnActionTriggered);
}

void ReceivedSearchesForm::OnSearchProcessed(QString i_search, bool i_answered)
{
    if (paused)
        return;
    QTreeWidget* list = ui->searchList;
    list->setCurrentItem(nullptr);
    auto* row = new QTreeWidgetItem({i_search});
    list->insertTopLevelItem(0, row);
    if (i_answered)
    {
        row->setForeground(1, QColor("#005500"));
        row->setText(1, tr("Match"));
    }
    if (list->topLevelItemCount() > maxRows)
        delete list->takeTopLevelItem(maxRows);
}

void ReceivedSearchesForm::OnActionTriggered(QWidget* ip_widget, QString i_action)
{
    if (ip_widget != this || i_action != "pause_unpause")
        return;
    paused = !paused;
    if (actionBar)
        actionBar->SetWidgetActionText(this, "pause_unpause", paused ? tr("Resume") : tr("Pause"));
}
