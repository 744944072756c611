#include "TreeWidgetItem.h"

#include <QRegularExpression>

#include "ColumnSortingModel.h"

namespace {
// "1,234" is 1234, "12 of 30" is 1230, "-5" is 5; no digits, or too many, count as 0.
qlonglong NumericKey(QString text)
{
    static const QRegularExpression nonDigits(QStringLiteral("[^0-9]+"));
    return text.remove(nonDigits).toLongLong();
}
} // namespace

TreeWidgetItem::TreeWidgetItem(QTreeWidget* parent) : QTreeWidgetItem(parent, Type)
{}

TreeWidgetItem::~TreeWidgetItem() = default;

void TreeWidgetItem::SetSortingModel(ColumnSortingModel* model)
{
    sortingModel = model;
}

bool TreeWidgetItem::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* tree = treeWidget();
    if (!tree)
        return false;
    const int column = tree->sortColumn();
    QString a = data(column, Qt::DisplayRole).toString();
    QString b = other.data(column, Qt::DisplayRole).toString();
    if (!sortingModel)
        return a < b;
    const ColumnSortingModel::ColumnSortingInfo info = sortingModel->GetColumnInfo(column);
    if (info.reversed)
        a.swap(b);
    if (info.sortKind == ColumnSortingModel::numericSort)
        return NumericKey(a) < NumericKey(b);
    return a < b;
}
