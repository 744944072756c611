#pragma once

#include <QWidget>

#include "DataHandler.h"
#include "ItemPtr.h"

class FilterParser;
class QLineEdit;
class QShowEvent;
class QTreeWidget;
class QTreeWidgetItem;
class Ui_SearchResultsForm;

// One result tab: the answers to one search, as user, folder and file rows (or one flat row per
// file in the old style), tied to the store so that a row leads back to its result.
class SearchResultsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // Beyond this many file rows a tab drops further answers: a peer may answer as many users.
    static constexpr int maxFileRows = 100000;

    SearchResultsForm(const QString& text, bool wishList, QWidget* parent = nullptr);
    ~SearchResultsForm() override;

    QTreeWidget* searchResults() const;
    QLineEdit* filterEdit() const;
    QTreeWidget* CorrelationsWidget() const;
    QString Text() const { return text; }
    int FileRowCount() const { return fileRows; }

    void SetSortingParamters(int column, Qt::SortOrder order);
    void Init();
    void PopulateCorrelations();
    void AddUserSearchResults(ItemPtr results);
    QTreeWidgetItem* AddSearchResult(ItemPtr result);
    static QTreeWidgetItem* GetNodeUserNode(QTreeWidgetItem* row);
    static bool CompareSearchResults(ItemPtr a, ItemPtr b);
    // The tab's own store item, or null.
    ItemPtr WidgetItem() const;
    // The result behind a file row, or null.
    static ItemPtr ResultOf(QTreeWidgetItem* row);

    // Texts of the columns, as the rows show them.
    static QString SpeedText(long long bytesPerSecond);
    static QString AttributesText(ItemPtr file);

public slots:
    void Sort();
    void OnSectionClicked(int i_column);
    void OnSearchCorrelations(QString i_search);
    void OnFilterTextChanged(QString i_text);
    void OnClearFilterClicked();
    void OnFilterHelpClicked();
    void OnSaveFilterClicked();
    void OnSavedFiltersBoxIndexChanged(int i_index);
    void OnDefaultFilterBoxToggled(bool i_checked);
    void OnContextMenuRequested(QPoint i_point);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Adds the result's file row, and its user and folder rows when missing; sets newUser when
    // it made the user row.
    QTreeWidgetItem* AddFileRow(ItemPtr result, bool& newUser, const FilterParser& filter);
    void SetFileColumns(QTreeWidgetItem* row, ItemPtr result);
    static QString FreeText(ItemPtr answer);
    // Filters a new file row, joined to its folder's text, and updates the folder row; true when
    // the folder is shown.
    static bool ArrivalFilter(QTreeWidgetItem* folderRow, QTreeWidgetItem* fileRow, ItemPtr result,
                              const FilterParser& filter);
    void FilterTree(const FilterParser& filter);
    void OnSavedFilterAdded(ItemPtr filter);
    void OnSavedFilterRemoved(ItemPtr filter);
    QTreeWidgetItem* AddFlatResult(ItemPtr result, ItemPtr answer, const FilterParser& filter);
    ItemPtr NewNode(const char* type, QTreeWidgetItem* row);

    Ui_SearchResultsForm* ui;
    QString text;
    bool wishList;
    bool flat;
    int sortColumn = 1;
    Qt::SortOrder sortOrder = Qt::DescendingOrder;
    int fileRows = 0;
};
