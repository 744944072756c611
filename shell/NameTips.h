#pragma once

#include <functional>

#include <QObject>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

// Tool tips with the whole name behind a cell that shows it cut short or with marks. The name is
// read from the store when the tip is asked for: the rows hold only the shown text, so that names
// of any length cost nothing to keep, lay out or paint.
class NameTips : public QObject
{
    Q_OBJECT

public:
    // The whole text behind a cell, or an empty text for a cell that stands for no name.
    using WholeText = std::function<QString(QTreeWidgetItem* row, int column)>;

    // Owned by the tree; watches its viewport.
    NameTips(QTreeWidget* tree, WholeText wholeText);

    // The tip of a cell: empty when the cell shows its whole name already.
    QString TipOf(QTreeWidgetItem* row, int column) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidget* tree;
    WholeText wholeText;
};
