#pragma once

#include <QStyledItemDelegate>

class QTreeWidgetItem;

// The progress cells of the transfer trees: a bar drawn with the tree's style from the cell's
// data (its text, and its value under valueRole), never a widget per row, so that rows
// finished long ago cost nothing to lay out. A cell without a value is drawn as plain text.
class ProgressDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int valueRole = Qt::UserRole + 1;
    // Tall enough for the bar's text, as the bars stood before; a taller row centres it.
    static constexpr int barHeight = 14;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // Shows a bar with the text over it; the value is a percentage, held to 0-100.
    static void Set(QTreeWidgetItem* row, int column, const QString& text, int value);
    static void Clear(QTreeWidgetItem* row, int column);
    static bool Has(const QTreeWidgetItem* row, int column);
    static int Value(const QTreeWidgetItem* row, int column);
};
