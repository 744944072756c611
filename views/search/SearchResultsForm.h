#pragma once

#include <unordered_map>
#include <vector>

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QTimer>
#include <QWidget>

#include "DataHandler.h"
#include "ItemPtr.h"

class FilterParser;
class Item;
class QLineEdit;
class QModelIndex;
class QShowEvent;
class QTreeWidget;
class QTreeWidgetItem;
class Type;
class Ui_SearchResultsForm;

// One result tab: the answers to one search, as user, folder and file rows (or one flat row per
// file in the old style), tied to the store so that a row leads back to its result.
class SearchResultsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // Beyond this many file rows a tab drops further answers: a peer may answer as many users.
    static constexpr int maxFileRows = 100000;
    // Up to this many file rows answers join the tree as they arrive. Beyond it, every change
    // to the tree makes the view lay out each expanded row again, so answers wait and join
    // together, at most one millisecond per 1,000 rows held after the last ones joined.
    static constexpr int immediateFileRows = 10000;
    // Waiting answers with this many files join at once, which bounds one pass's work.
    static constexpr int maxWaitingFiles = 5000;

    SearchResultsForm(const QString& text, bool wishList, QWidget* parent = nullptr);
    ~SearchResultsForm() override;

    QTreeWidget* searchResults() const;
    QLineEdit* filterEdit() const;
    QTreeWidget* CorrelationsWidget() const;
    QString Text() const { return text; }
    // File rows in the tree and in answers waiting to join it.
    int FileRowCount() const { return fileRows + waitingFiles; }
    int WaitingAnswerCount() const { return int(waitingAnswers.size()); }
    // Takes every row out of the tree in one change, for the caller to free.
    QList<QTreeWidgetItem*> TakeRows();

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
    // Adds the rows of every waiting answer.
    void AddWaitingAnswers();
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
    void OnResultDoubleClicked(QTreeWidgetItem* ip_row, int i_column);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // A file row with the name the filter reads and the state it last gave the row.
    struct FileText
    {
        QTreeWidgetItem* row;
        QString name;
        bool hidden;
    };
    // A folder row's text and its file rows in the tree's order, kept beside the tree: reading
    // each row's text back from the tree costs more than matching it.
    struct FolderFiles
    {
        QString text;
        std::vector<FileText> files;
        // File rows the filter shows.
        int shown = 0;
        // Hidden by the whole-tree filter, which left its file rows as they were.
        bool stale = false;
    };
    // What the rows of one answer share, found once per answer.
    struct FolderRow
    {
        ItemPtr node;
        QTreeWidgetItem* row;
        FolderFiles* files;
    };
    struct AnswerRows
    {
        AnswerRows(ItemPtr widgetItem, ItemPtr answerItem);

        ItemPtr widget;
        ItemPtr answer;
        Type* folderType;
        Type* nameType;
        Type* sizeType;
        Type* bitrateType;
        Type* resultNodeType;
        bool expandUsers;
        bool expandFolders;
        ItemPtr userNode;
        QTreeWidgetItem* userRow = nullptr;
        bool newUser = false;
        // The answer's folders met so far, by their folder item.
        QHash<Item*, FolderRow> folders;
        // The files of the folder of the last file row added.
        FolderFiles* lastFolder = nullptr;
    };

    // Adds the rows of one answer, filtered with the filter given, and names its user row.
    void AddAnswerRows(ItemPtr answer, const FilterParser& filter, QTreeWidgetItem*& userRow);
    // After rows were added: the wish-list alert and the deferred sort.
    void AfterAnswers(QTreeWidgetItem* lastUserRow);
    // How long answers wait before they join the tree, in milliseconds.
    int AnswerDelay() const;
    // Adds the result's file row, and its user and folder rows when missing.
    QTreeWidgetItem* AddFileRow(ItemPtr result, AnswerRows& rows, const FilterParser& filter);
    // Finds or makes the answer's user row.
    void FindUserRow(AnswerRows& rows);
    void SetFileColumns(QTreeWidgetItem* row, ItemPtr result, const AnswerRows& rows);
    static QString FreeText(ItemPtr answer);
    // Filters a new file row, joined to its folder's text, and updates the folder row; true when
    // the folder is shown.
    bool ArrivalFilter(QTreeWidgetItem* folderRow, FolderFiles& files, ItemPtr result,
                       const FilterParser& filter);
    // Applies the whole-tree filter to a folder row and its files; true when the folder shows.
    bool FilterFolder(QTreeWidgetItem* folderRow, const QModelIndex& folderIndex,
                      const FilterParser& filter);
    void FilterTree(const FilterParser& filter);
    // Puts the files kept beside a folder row in the tree's order again, after a sort.
    static void FollowTreeOrder(const QTreeWidgetItem* folderRow, FolderFiles& files);
    // The model index of a row of the tree.
    QModelIndex IndexOf(QTreeWidgetItem* row) const;
    void OnSavedFilterAdded(ItemPtr filter);
    void OnSavedFilterRemoved(ItemPtr filter);
    QTreeWidgetItem* AddFlatResult(ItemPtr result, AnswerRows& rows, const FilterParser& filter);
    ItemPtr NewNode(const char* type, QTreeWidgetItem* row);

    Ui_SearchResultsForm* ui;
    QString text;
    bool wishList;
    bool flat;
    int sortColumn = 1;
    Qt::SortOrder sortOrder = Qt::DescendingOrder;
    // File rows in the tree.
    int fileRows = 0;
    // Answers not yet in the tree, in arrival order, and their file count.
    QList<ItemPtr> waitingAnswers;
    int waitingFiles = 0;
    QTimer answerTimer;
    // Since rows last joined the tree.
    QElapsedTimer sinceRows;
    // The files of each folder row, by the row.
    std::unordered_map<const QTreeWidgetItem*, FolderFiles> folderFiles;
    // Set while answers join: the filter text is blank, so every row shows.
    bool showsAll = true;
};
