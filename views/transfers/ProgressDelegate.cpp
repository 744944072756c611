#include "ProgressDelegate.h"

#include <algorithm>

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <QTreeWidgetItem>

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    const QVariant value = index.data(valueRole);
    if (!value.isValid())
        return QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // The cell's own background and selection first, as for any other cell.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, widget);

    QStyleOptionProgressBar bar;
    bar.initFrom(widget);
    const int height = std::min(barHeight, option.rect.height());
    bar.rect = QRect(option.rect.left(), option.rect.top() + (option.rect.height() - height) / 2,
                     option.rect.width(), height);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = value.toInt();
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    painter->save();
    // The text goes over the bar in a size that fits its height: the list's own font would be
    // cut at the top.
    QFont font = option.font;
    font.setPixelSize(10);
    painter->setFont(font);
    bar.fontMetrics = QFontMetrics(font);
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
    painter->restore();
}

void ProgressDelegate::Set(QTreeWidgetItem* row, int column, const QString& text, int value)
{
    row->setText(column, text);
    row->setData(column, valueRole, std::clamp(value, 0, 100));
}

void ProgressDelegate::Clear(QTreeWidgetItem* row, int column)
{
    if (!Has(row, column))
        return;
    row->setData(column, valueRole, QVariant());
    row->setText(column, QString());
}

bool ProgressDelegate::Has(const QTreeWidgetItem* row, int column)
{
    return row->data(column, valueRole).isValid();
}

int ProgressDelegate::Value(const QTreeWidgetItem* row, int column)
{
    return row->data(column, valueRole).toInt();
}
