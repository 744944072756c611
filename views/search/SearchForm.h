#pragma once

#include <QWidget>

#include "ClosedTabRemoval.h"
#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "ItemPtr.h"
#include "SearchTypes.h"

class QTreeWidgetItem;
class SearchResultsForm;
class Ui_SearchForm;

// The Search page: the search box with its history and scopes, one result tab per search, the
// wish list and the searches other users send. Answers reach their tab through the link from the
// search request to the tab's store item.
class SearchForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Most searches kept in the history.
    static constexpr int historySize = 20;

    explicit SearchForm(QWidget* parent = nullptr);
    ~SearchForm() override;

    void Init();
    void DataLoaded() override;
    SearchResultsForm* CreateSearchForm(unsigned int token, const QString& text, SearchType type);
    SearchResultsForm* GetCurrentSearchResultsForm() const;
    Ui_SearchForm* Form() const { return ui; }
    // The closed tabs still being taken apart.
    ClosedTabRemoval& ClosedTabs() { return removal; }

public slots:
    void OnSearchEntered();
    void OnUserSearchResults(ItemPtr i_results);
    void OnTabCloseRequested(int i_index);
    void OnWishTabCloseRequested(int i_index);
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnCorrelationClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnCorrelationDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnWishListItemCheckStateChanged(int i_state);
    void OnWishListItemChanged(QTreeWidgetItem* ip_row, int i_column);
    void DeleteNode(QTreeWidgetItem* ip_row);
    void OnWishListContextMenuRequested(QPoint i_point);
    void OnRemoveWishListItemRequested();

private:
    void RecordSearch(QString text);
    void CloseTab(class QTabWidget* tabs, int index);
    void OnEnteredRoom(ItemPtr room);
    void OnLeftRoom(ItemPtr room);
    void DeclareTypes();
    void InitWishList();
    void OnWishListItemAdded(ItemPtr wish);
    void OnWishListItemRemoved(ItemPtr wish);
    void SetAllWishListItems(bool enabled);
    void RequestDeleteNode(QTreeWidgetItem* row);

    Ui_SearchForm* ui;
    ClosedTabRemoval removal;
    // Set while a wish-list row is being built: its edits are not the user's.
    bool adding = false;
};

extern SearchForm* searchForm;
