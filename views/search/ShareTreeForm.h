#pragma once

#include <vector>

#include <QList>
#include <QWidget>

#include "ColumnSortingModel.h"
#include "DataHandler.h"
#include "GeneralFunctions.h"
#include "ItemPtr.h"

class ClosedTabRemoval;
class FilterParser;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// What a browse tab and an upload tab share: a share's folders as a tree, the files of the
// chosen folder as a list, the filter line and the tree's expand commands. Rows lead to their
// store items through node items keyed by the row's address.
class ShareTreeForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // Folders nested deeper than this are shown at this depth, named by their path below the
    // row they hang from: a hostile list of very deep paths would otherwise make rows whose
    // layout, painting and deletion recurse once per level.
    static constexpr int maxRowDepth = 100;
    // Longest name a row shows; peers may send names of hundreds of kilobytes, which Qt would
    // measure on every layout and paint.
    static constexpr int maxShownLength = maxShownNameLength;

    ~ShareTreeForm() override;

    QString User() const { return user; }
    ItemPtr Share() const { return share; }
    QTreeWidget* FolderTree() const { return folderTree; }
    QTreeWidget* FileList() const { return fileList; }
    QLineEdit* FilterEdit() const { return filterEdit; }
    int TreeDepth() const { return treeDepth; }

    void ExpandAll();
    void CollapseAll();
    void ExpandLevel();
    bool FilterFolderNode(QTreeWidgetItem* row, FilterParser& filter);

    static ItemPtr FolderOf(QTreeWidgetItem* row);
    static ItemPtr FileOf(QTreeWidgetItem* row);
    // Forgets the rows' store nodes and hands the rows over, out of their trees, for deletion
    // a slice at a time.
    QList<QTreeWidgetItem*> TakeRows();
    // Closes the tab, already out of its tab widget: its rows and the share it showed are
    // handed to the removal, which takes them apart a slice at a time; the form goes later.
    void Close(ClosedTabRemoval& removal);

    // The whole name a row stands for, read from the store: its text may be cut short.
    static QString FolderRowName(QTreeWidgetItem* row);
    static QString FileRowName(QTreeWidgetItem* row);
    // The name as a row shows it: at most maxShownLength characters on one line.
    static QString ShownText(const QString& name);
    // Removes up to the budget of the share's files, then its folders and the share itself;
    // returns what is left of the budget, 0 while items remain.
    static int RemoveShareItems(ItemPtr share, int budget);
    // The folder and every folder below it, each once, the folder first, then depth first in
    // store order. Walked with a list of its own, never the call stack.
    static std::vector<ItemPtr> FolderAndSubfolders(ItemPtr folder);

public slots:
    void OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem* ip_previous);
    void OnFilterTextChanged(QString i_text);
    void OnFolderDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnFileDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnFolderContextMenuRequested(QPoint i_position);
    void OnFileContextMenuRequested(QPoint i_position);

protected:
    ShareTreeForm(const QString& user, QWidget* parent);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Sets the widgets up as both tabs want them; the tree joins the tool-bar set given.
    void SetUpTrees(QTreeWidget* folders, QTreeWidget* files, QLineEdit* filter,
                    QPushButton* filterHelp, const char* actionSet);
    // Builds the folder rows of the share; siblings in byte order of their paths, or without
    // regard to case.
    void FillFolderTree(ItemPtr shownShare, bool ignoreCase);
    void ShowTrees(bool shown);
    void ClearFileList();
    // Puts the icon on the shown rows of the given files.
    void MarkFileRows(const std::vector<ItemPtr>& files, const char* icon);
    QList<QTreeWidgetItem*> SelectedFolders() const;
    QList<QTreeWidgetItem*> SelectedFiles() const;

    // Hands the folders or files of the rows on; rows without an item are passed over.
    void ActOnFolders(const QList<QTreeWidgetItem*>& rows);
    void ActOnFiles(const QList<QTreeWidgetItem*>& rows);

    // What a folder or a file is for: queueing a download or an upload. A folder marks the rows
    // of the files it handed on itself.
    virtual void HandFolder(ItemPtr folder) = 0;
    virtual void HandFile(ItemPtr file) = 0;
    virtual const char* HandedIcon() const = 0;
    virtual QString FolderActionText() const = 0;
    virtual QString FileActionText() const = 0;
    // Forgets the tab's own store item and lets go of the share shown, so that nothing else
    // reaches it; returns that share, for removal.
    virtual ItemPtr Delete() = 0;

    QString user;
    ItemPtr share;
    int treeDepth = 0;
    int expandLevel = 0;

private:
    void ForgetRows();
    void ForgetFileRows();

    QTreeWidget* folderTree = nullptr;
    QTreeWidget* fileList = nullptr;
    QLineEdit* filterEdit = nullptr;
    QPushButton* filterHelpButton = nullptr;
    ColumnSortingModel sortingModel;
};
