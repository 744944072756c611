#include "SearchForm.h"

#include <algorithm>
#include <vector>

#include <QDateTime>
#include <QLayout>
#include <QLineEdit>
#include <QTreeWidget>

#include "ActionSetToolBar.h"
#include "ClosedTabRemoval.h"
#include "Data.h"
#include "DataSaver.h"
#include "FocusWidget.h"
#include "Item.h"
#include "PathNode.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "ReceivedSearchesForm.h"
#include "SearchResultsForm.h"
#include "Server.h"
#include "Settings.h"
#include "SizeManager.h"
#include "TabFocus.h"
#include "TypeTable.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "ui_SearchForm.h"

using namespace SearchTypes;
using namespace PeerTypes;
using namespace ServerTypes;
using TypeTable::RelationRow;
using TypeTable::TypeRow;

SearchForm* searchForm = nullptr;

namespace {
const ActionSetToolBar::SetAction searchActions[] = {
    {"search_results", "order_by_available", "Order by Available", ":/icons/search_icon"},
    {"search_results", "order_by_fastest", "Order by Fastest", ":/icons/search_icon"},
    {"search_results", "expand_folders", "Expand Folders", ":/icons/search_icon"},
    {"search_results", "expand_users", "Expand Users", ":/icons/search_icon"},
    {"search_results", "add_remove_wishlist", "Add to Wishlist", ":/icons/wishlist_icon"},
    {"search_results", "reenter_search", "Re-enter Search", ":/icons/circular_arrow_icon"},
    {"search_results", "stop_search", "Stop Search", ":/icons/stop_icon"},
    {"search_results_old", "add_remove_wishlist", "Add to Wishlist", ":/icons/wishlist_icon"},
    {"search_results_old", "reenter_search", "Re-enter Search", ":/icons/circular_arrow_icon"},
    {"search_results_old", "stop_search", "Stop Search", ":/icons/stop_icon"},
};

const QString roomScope = "Room: ";

const TypeRow typeRows[] = {
    {resultsWidget, PrimacyRoot, false},        {resultsWidgetAlerted, PrimacyLeaf, true},
    {expandFolders, PrimacyLeaf, false},        {expandUsers, PrimacyLeaf, false},
    {userNode, PrimacyIntermediate, false},     {folderNode, PrimacyIntermediate, false},
    {resultNode, PrimacyIntermediate, false},   {wishListNode, PrimacyRoot, false},
    {wishListNodeCheckbox, PrimacyRoot, false}, {wishListItemFilterText, PrimacyLeaf, false},
    {savedFilter, PrimacyRoot, false},          {searchRecord, PrimacyRoot, false},
    {searchTime, PrimacyLeaf, false},
};

// An `a` holds `bPerA` b-items; a `b` belongs to `aPerB` a-items.
const RelationRow relationRows[] = {
    {resultsWidget, PeerTypes::searchRequest, Many, One},
    {resultsWidget, WindowTypes::wishListItem, One, One},
    {resultsWidget, resultsWidgetAlerted, One, Many},
    {resultsWidget, expandFolders, One, Many},
    {resultsWidget, expandUsers, One, Many},
    {resultsWidget, userNode, Many, One, true},
    {userNode, ServerTypes::user, One, Many},
    {userNode, folderNode, Many, One, true},
    {folderNode, PeerTypes::searchResultFileFolder, One, Many},
    {resultNode, PeerTypes::searchResult, One, One},
    {resultNode, folderNode, One, Many},
    {WindowTypes::wishListItem, wishListNode, One, One},
    {wishListNode, wishListNodeCheckbox, One, One},
    {WindowTypes::wishListItem, wishListItemFilterText, One, Many},
    {searchRecord, searchTime, One, Many},
};

// Declared only once the transfers have declared their entries.
const RelationRow downloadRelationRows[] = {
    {searchRequestText, downloadEntry, Many, One},
};

bool TypeExists(const char* name)
{
    try
    {
        d.GetType(name);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

// The live result tab whose address the item holds, or null.
SearchResultsForm* FormOf(ItemPtr widgetItem)
{
    return ViewAddress::Find<SearchResultsForm>(widgetItem);
}
} // namespace

SearchForm::SearchForm(QWidget* parent) : QWidget(parent), ui(new Ui_SearchForm)
{
    searchForm = this;
    ui->setupUi(this);
    ui->verticalLayout->setContentsMargins(0, 0, 0, 0);
    // The result tabs take the room the window gains; the wish list keeps its width.
    ui->searchSplitter->setStretchFactor(0, 1);
    ui->searchSplitter->setStretchFactor(1, 0);
    connect(ui->searchButton, &QPushButton::clicked, this, &SearchForm::OnSearchEntered);
    connect(ui->searchEdit->lineEdit(), &QLineEdit::returnPressed, this,
            &SearchForm::OnSearchEntered);
    connect(ui->wishList, &QTreeWidget::customContextMenuRequested, this,
            &SearchForm::OnWishListContextMenuRequested);
    ui->receivedSearchesTab->layout()->addWidget(new ReceivedSearchesForm(ui->receivedSearchesTab));
    ui->receivedSearchesTab->layout()->setContentsMargins(0, 0, 0, 0);
}

SearchForm::~SearchForm()
{
    if (searchForm == this)
        searchForm = nullptr;
    delete ui;
}

void SearchForm::DeclareTypes()
{
    TypeTable::Declare(d, typeRows, relationRows);
}

void SearchForm::Init()
{
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::SearchResults, this,
                &SearchForm::OnUserSearchResults);
    DeclareTypes();
    Listen(d.GetType(WindowTypes::wishListItem)->itemRemoved, this,
           &SearchForm::OnWishListItemRemoved);
    connect(ui->searchTabControl, &QTabWidget::tabCloseRequested, this,
            &SearchForm::OnTabCloseRequested);
    connect(ui->wishListTabControl, &QTabWidget::tabCloseRequested, this,
            &SearchForm::OnWishTabCloseRequested);
    if (actionBar)
    {
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &SearchForm::OnActionBarTriggered);
        for (const ActionSetToolBar::SetAction& action : searchActions)
            actionBar->AddSetAction(action);
    }
    InitWishList();

    // A download remembers the search it came from, once the transfers declare their entries.
    if (TypeExists(downloadEntry))
    {
        TypeTable::Relate(d, downloadRelationRows);
        if (dataSaver)
            dataSaver->AddSavedByConnectionType(searchRequestText, downloadEntry);
    }
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    RegisterWidgetForTabFocus(ui->searchEdit, 1);
    RegisterWidgetForTabFocus(ui->wishList, 1);
    if (dataSaver)
        dataSaver->AddSavedType(savedFilter);
    ui->searchTargetBox->addItem(tr("All"));
    ui->searchTargetBox->addItem(tr("User List"));
    auto* entered = new PathNode(&d, room);
    new PathNode(entered, inRoom, PathRequired);
    d.AddPathHandler(entered, this, &SearchForm::OnEnteredRoom);
    auto* left = new PathNode(&d, room);
    new PathNode(left, inRoom, PathAbsent);
    d.AddPathHandler(left, this, &SearchForm::OnLeftRoom);
    connect(ui->wishList, &QTreeWidget::itemChanged, this, &SearchForm::OnWishListItemChanged);
    if (receivedSearchesForm)
        receivedSearchesForm->Init();
    qRegisterMetaType<QTreeWidgetItem*>("QTreeWidgetItem*");
    if (dataSaver)
    {
        dataSaver->AddSavedType(searchRecord);
        dataSaver->AddSavedType(searchTime);
    }
}

void SearchForm::DataLoaded()
{
    for (ItemPtr wish : g(WindowTypes::wishListItem))
        OnWishListItemAdded(wish);
    if (sizeManager)
        sizeManager->RegisterSplitter("wish_list_splitter", ui->searchSplitter,
                                      {width() - 200, 200});
    for (ItemPtr record : g(searchRecord).SortNumericBy(searchTime, false))
        ui->searchEdit->addItem(record.AsString());
    ui->searchEdit->lineEdit()->clear();
}

void SearchForm::OnEnteredRoom(ItemPtr room)
{
    ui->searchTargetBox->addItem(roomScope + room.AsString());
}

void SearchForm::OnLeftRoom(ItemPtr room)
{
    const int index = ui->searchTargetBox->findText(roomScope + room.AsString(),
                                                    Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->searchTargetBox->removeItem(index);
}

void SearchForm::OnSearchEntered()
{
    const QString text = ui->searchEdit->lineEdit()->text().trimmed();
    if (text.isEmpty() || !gp_server)
        return;
    const QString scope = ui->searchTargetBox->currentText();
    if (scope == "All")
    {
        const unsigned int token = gp_server->FileSearch(text, false);
        gp_server->GetSearchCorrelations(text);
        CreateSearchForm(token, text, NetworkSearch);
    }
    else if (scope == "User List")
    {
        CreateSearchForm(gp_server->SearchUserList(text), text, UserListSearch);
    }
    else if (scope.startsWith(roomScope))
    {
        const unsigned int token = gp_server->SearchRoom(scope.mid(roomScope.size()), text);
        CreateSearchForm(token, text, RoomSearch);
    }
    RecordSearch(text);
    ui->searchEdit->lineEdit()->clear();
}

void SearchForm::RecordSearch(QString text)
{
    text = text.trimmed();
    if (text.isEmpty())
        return;
    ItemPtr record = d.GetType(searchRecord)->HasItem(Value(text));
    if (!record.IsNull())
    {
        const int row = ui->searchEdit->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (row >= 0)
            ui->searchEdit->removeItem(row);
    }
    else
    {
        record = d.GetType(searchRecord)->NewItem(Value(text));
    }
    ui->searchEdit->insertItem(0, text);
    // Searches within one millisecond still get distinct times, so that the order read back
    // after a restart, and the oldest one evicted, are the order they were made in.
    qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (ItemPtr other : g(searchRecord))
        if (other != record && other.IsConnected(searchTime))
            now = std::max(now, other[searchTime].AsString().toLongLong() + 1);
    record.Connect(d.GetType(searchTime)->GetItem(Value(QString::number(now))));
    auto records = g(searchRecord).SortNumericBy(searchTime, true);
    while (int(records.size()) > historySize)
    {
        records.front().Remove();
        records.pop_front();
        ui->searchEdit->removeItem(historySize);
    }
}

SearchResultsForm* SearchForm::CreateSearchForm(unsigned int token, const QString& text,
                                                SearchType type)
{
    ItemPtr request = d.GetType(PeerTypes::searchRequest)->NewItem(Value(token));
    ItemPtr wish;
    if (type == WishListSearch)
    {
        wish = d.GetType(WindowTypes::wishListItem)->HasItem(Value(text));
        if (wish.IsNull())
            return nullptr;
        ItemPtr open = wish[resultsWidget];
        if (SearchResultsForm* form = FormOf(open))
        {
            request.Connect(open);
            return form;
        }
    }
    auto* form = new SearchResultsForm(text, type == WishListSearch, this);
    QTreeWidget* tree = form->searchResults();
    tree->setColumnCount(7);
    tree->header()->setStretchLastSection(false);
    const int widths[] = {100, 40, 40, 150, 170, 70};
    for (int column = 0; column < 6; ++column)
        tree->setColumnWidth(column, widths[column]);
    // A size in the gigabytes must show whole in the font the desktop gives.
    tree->setColumnWidth(
        5, std::max(widths[5], tree->fontMetrics().horizontalAdvance("99,999,999,999") + 16));
    tree->header()->setSectionsMovable(false);
    tree->setHeaderLabels({tr("User"), tr("Free"), tr("K/s"), tr("Folder"), tr("File"), tr("Size"),
                           tr("Attributes")});
    tree->expandAll();
    switch (type)
    {
    case UserListSearch:
        ui->searchTabControl->addTab(form, QIcon(":/icons/users_icon"), text);
        break;
    case RoomSearch:
        ui->searchTabControl->addTab(form, QIcon(":/icons/room_icon"), text);
        break;
    case WishListSearch:
        ui->wishListTabControl->addTab(form, QIcon(":/icons/wishlist_icon"), text);
        break;
    default:
        ui->searchTabControl->addTab(form, QIcon(":/icons/search_icon"), text);
        break;
    }
    ItemPtr widget = d.GetType(resultsWidget)->NewItem(ViewAddress::Of(form));
    widget.Connect(request);
    if (type == WishListSearch)
    {
        widget.Connect(wish);
        if (wish.IsConnected(wishListItemFilterText))
            form->filterEdit()->setText(wish[wishListItemFilterText].AsString());
    }
    const QString defaultFilter = Settings::GetText(defaultSearchFilter);
    if (!defaultFilter.isEmpty() && form->filterEdit()->text().isEmpty())
        form->filterEdit()->setText(defaultFilter);
    if (actionBar)
    {
        if (type == WishListSearch)
        {
            actionBar->SetWidgetActionText(form, "add_remove_wishlist",
                                           tr("Remove from Wish List"));
            actionBar->SetWidgetActionHidden(form, "stop_search", true);
        }
        actionBar->SetWidgetActionText(form, "order_by_available", tr("Order by Available [on]"));
        actionBar->SetWidgetActionText(form, "order_by_fastest", tr("Order by Fastest"));
        actionBar->SetWidgetActionText(form, "expand_folders", tr("Expand Folders [on]"));
        actionBar->SetWidgetActionText(form, "expand_users", tr("Expand Users [on]"));
    }
    widget.Connect(d.GetType(expandFolders)->NewItem(Value("yes")));
    widget.Connect(d.GetType(expandUsers)->NewItem(Value("yes")));
    form->SetSortingParamters(1, Qt::DescendingOrder);
    if (type != WishListSearch)
        FocusWidget(tree);
    if (sizeManager)
        sizeManager->RegisterTreeWidget("search_results", tree);
    form->Init();
    connect(form->CorrelationsWidget(), &QTreeWidget::itemClicked, this,
            &SearchForm::OnCorrelationClicked);
    connect(form->CorrelationsWidget(), &QTreeWidget::itemDoubleClicked, this,
            &SearchForm::OnCorrelationDoubleClicked);
    return form;
}

SearchResultsForm* SearchForm::GetCurrentSearchResultsForm() const
{
    QWidget* page = nullptr;
    if (ui->searchTabControl->isVisible())
        page = ui->searchTabControl->currentWidget();
    else if (ui->wishListTabControl->isVisible())
        page = ui->wishListTabControl->currentWidget();
    return qobject_cast<SearchResultsForm*>(page);
}

void SearchForm::OnUserSearchResults(ItemPtr i_results)
{
    ItemPtr request = i_results[PeerTypes::searchRequest];
    // A stopped request belongs to a closed tab still being taken apart: it opens nothing.
    if (!request.IsConnected(resultsWidget) && request.IsConnected(wishlistSearch) &&
        !request.IsConnected(PeerTypes::searchStopped))
    {
        ItemPtr wish = d.GetType(WindowTypes::wishListItem)
                           ->HasItem(Value(request[searchRequestText].AsString()));
        if (!wish.IsNull() && wish.IsConnected(WindowTypes::wishListItemEnabled))
            CreateSearchForm(request.AsUInt(), wish.AsString(), WishListSearch);
    }
    SearchResultsForm* form = FormOf(request[resultsWidget]);
    if (form)
    {
        form->AddUserSearchResults(i_results);
        return;
    }
    // Nobody will show this answer: keep nothing of it, and let no further answers in.
    ClosedTabRemoval::RemoveAnswer(i_results);
    if (!request.IsNull() && request.IsConnected(wishlistSearch))
        request.Connect(d.GetType(PeerTypes::searchStopped)->GetGlobalNullItem());
}

void SearchForm::OnTabCloseRequested(int i_index)
{
    CloseTab(ui->searchTabControl, i_index);
}

void SearchForm::OnWishTabCloseRequested(int i_index)
{
    CloseTab(ui->wishListTabControl, i_index);
}

void SearchForm::CloseTab(QTabWidget* tabs, int index)
{
    auto* form = qobject_cast<SearchResultsForm*>(tabs->widget(index));
    if (!form)
        return;
    ItemPtr widget = form->WidgetItem();
    if (widget.IsNull())
        return;
    std::vector<unsigned int> tokens;
    for (ItemPtr request : widget.GetItems(PeerTypes::searchRequest))
        tokens.push_back(request.AsUInt());
    const ItemSet users = widget.GetItems(userNode);
    ClosedTabRemoval::RemoveWithBareLeaves(widget);
    // The tab's own items are removed rather than left to a collection of the whole store, so
    // that closing costs what the tab held, whatever other tabs hold.
    for (ItemPtr user : users)
    {
        user.GetItems(folderNode).Remove();
        user.Remove();
    }
    tabs->removeTab(index);
    const QList<QTreeWidgetItem*> rows = form->TakeRows();
    delete form;
    removal.Add(tokens, rows);
}

void SearchForm::OnActionBarTriggered(QWidget* ip_widget, QString i_action)
{
    if (i_action == "expand_folders" || i_action == "expand_users")
    {
        auto* form = qobject_cast<SearchResultsForm*>(ip_widget);
        ItemPtr widget = form ? form->WidgetItem() : ItemPtr();
        if (widget.IsNull())
            return;
        const bool folders = i_action == "expand_folders";
        const char* type = folders ? expandFolders : expandUsers;
        const bool on = widget[type].AsString() == "no";
        widget.Connect(d.GetType(type)->NewItem(Value(on ? "yes" : "no")));
        const QString label = folders ? tr("Expand Folders") : tr("Expand Users");
        if (actionBar)
            actionBar->SetWidgetActionText(form, i_action, label + (on ? " [on]" : " [off]"));
        QTreeWidget* tree = form->searchResults();
        for (int u = 0; u < tree->topLevelItemCount(); ++u)
        {
            QTreeWidgetItem* userRow = tree->topLevelItem(u);
            if (!folders)
                userRow->setExpanded(on);
            else
                for (int f = 0; f < userRow->childCount(); ++f)
                    userRow->child(f)->setExpanded(on);
        }
        return;
    }
    if (i_action == "enable_all_wish_list_items" || i_action == "disable_all_wish_list_items")
    {
        SetAllWishListItems(i_action == "enable_all_wish_list_items");
        return;
    }
    if (i_action == "order_by_available" || i_action == "order_by_fastest")
    {
        auto* form = qobject_cast<SearchResultsForm*>(ip_widget);
        if (!form || !ViewAddress::IsLive(form))
            return;
        const bool available = i_action == "order_by_available";
        if (actionBar)
        {
            actionBar->SetWidgetActionText(form, "order_by_available",
                                           tr("Order by Available") + (available ? " [on]" : ""));
            actionBar->SetWidgetActionText(form, "order_by_fastest",
                                           tr("Order by Fastest") + (available ? "" : " [on]"));
        }
        form->SetSortingParamters(available ? 1 : 2, Qt::DescendingOrder);
        form->Sort();
        return;
    }
    SearchResultsForm* form = GetCurrentSearchResultsForm();
    ItemPtr request = form ? form->WidgetItem()[PeerTypes::searchRequest] : ItemPtr();
    if (request.IsNull())
        return;
    const QString text = request[searchRequestText].AsString();
    if (i_action == "add_remove_wishlist")
    {
        Type* wishes = d.GetType(WindowTypes::wishListItem);
        if (!request.IsConnected(wishlistSearch))
        {
            if (ItemPtr(wishes->HasItem(Value(text))).IsNull())
            {
                ItemPtr wish(wishes->NewItem(Value(text)));
                wish.NewItem(WindowTypes::wishListItemEnabled);
                OnWishListItemAdded(wish);
            }
        }
        else if (ItemPtr wish(wishes->HasItem(Value(text))); !wish.IsNull())
        {
            wish.Remove();
        }
    }
    else if (i_action == "stop_search")
    {
        request.Connect(d.GetType(PeerTypes::searchStopped)->GetGlobalNullItem());
        if (actionBar)
            actionBar->SetWidgetActionText(form, "stop_search", tr("Search Stopped"));
    }
    else if (i_action == "reenter_search")
    {
        ui->searchEdit->lineEdit()->setText(text);
        ui->searchEdit->setFocus();
    }
}

void SearchForm::OnCorrelationClicked(QTreeWidgetItem* ip_row, int)
{
    if (ip_row)
        ui->searchEdit->lineEdit()->setText(ip_row->text(0));
}

void SearchForm::OnCorrelationDoubleClicked(QTreeWidgetItem* ip_row, int)
{
    if (!ip_row || !gp_server)
        return;
    const QString text = ip_row->text(0);
    const unsigned int token = gp_server->FileSearch(text, false);
    gp_server->GetSearchCorrelations(text);
    CreateSearchForm(token, text, NetworkSearch);
    ui->searchEdit->lineEdit()->clear();
}
