#pragma once

#include <memory>
#include <vector>

#include <QList>
#include <QTimer>
#include <QWidget>

#include "ColumnSortingModel.h"
#include "DataHandler.h"
#include "ItemPtr.h"

class ClosedTabRemoval;
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
    // A folder row that shows its name altered (cut short, marks for line breaks) keeps the
    // whole name up to this length, so that the filter reads it without decoding it from the
    // store; longer names, which a peer may send by the thousand, are decoded when read.
    static constexpr int keptNameLength = 1024;
    // The work of one pass of the event loop while the folder tree fills or the filter runs:
    // characters read, a row counting as rowCost more. About 20 ms; a small share is done in
    // the first pass.
    static constexpr int sliceBudget = 1 << 21;
    static constexpr int rowCost = 64;

    ~ShareTreeForm() override;

    QString User() const { return user; }
    ItemPtr Share() const { return share; }
    QTreeWidget* FolderTree() const { return folderTree; }
    QTreeWidget* FileList() const { return fileList; }
    QLineEdit* FilterEdit() const { return filterEdit; }
    int TreeDepth() const { return treeDepth; }
    // While true, the folder rows are still being made, or the filter is still being applied to
    // them, a slice per pass of the event loop.
    bool IsFilling() const { return fill != nullptr; }
    bool IsFiltering() const { return filterWalk != nullptr; }

    void ExpandAll();
    void CollapseAll();
    void ExpandLevel();

    static ItemPtr FolderOf(QTreeWidgetItem* row);
    static ItemPtr FileOf(QTreeWidgetItem* row);
    // Forgets the rows' store nodes and hands the rows over, out of their trees, for deletion
    // a slice at a time.
    QList<QTreeWidgetItem*> TakeRows();
    // Closes the tab, already out of its tab widget: its rows and the share it showed are
    // handed to the removal, which takes them apart a slice at a time; the form goes later.
    void Close(ClosedTabRemoval& removal);

    // The whole name a row stands for: its text may be cut short or show marks.
    static QString FolderRowName(QTreeWidgetItem* row);
    static QString FileRowName(QTreeWidgetItem* row);
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

    // Sets the widgets up as both tabs want them; the tree joins the tool-bar set given.
    void SetUpTrees(QTreeWidget* folders, QTreeWidget* files, QLineEdit* filter,
                    QPushButton* filterHelp, const char* actionSet);
    // Builds the folder rows of the share, a slice per pass of the event loop after the first;
    // siblings in byte order of their paths, or without regard to case.
    void FillFolderTree(ItemPtr shownShare, bool ignoreCase);
    // Stops making rows, for a share that is going away; the rows made stay.
    void StopFill();
    // Once the last folder row is made.
    virtual void FolderTreeFilled() {}
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
    struct FolderFill;
    struct FilterWalk;

    void ForgetRows();
    void ForgetFileRows();
    void FillSlice();
    void FilterSlice();
    // The whole-tree filter is done: the file list follows it.
    void AfterFilter();
    void StopFilter();
    void OnSliceTimer();

    QTreeWidget* folderTree = nullptr;
    QTreeWidget* fileList = nullptr;
    QLineEdit* filterEdit = nullptr;
    QPushButton* filterHelpButton = nullptr;
    ColumnSortingModel sortingModel;
    std::unique_ptr<FolderFill> fill;
    std::unique_ptr<FilterWalk> filterWalk;
    // Runs the next slice of the fill or of the filter.
    QTimer sliceTimer;
};
