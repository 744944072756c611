#pragma once

#include <QTreeWidgetItem>

class ColumnSortingModel;

// A list row ordered by the column rules of its view's sorting model.
class TreeWidgetItem : public QTreeWidgetItem
{
public:
    explicit TreeWidgetItem(QTreeWidget* parent);
    ~TreeWidgetItem() override;

    // The model is the view's; the row never owns it and must not outlive it.
    void SetSortingModel(ColumnSortingModel* model);

    // Compares on the tree's sort column. Only this row's model decides, so rows of one list
    // must share one model.
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    ColumnSortingModel* sortingModel = nullptr;
};
