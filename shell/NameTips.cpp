#include "NameTips.h"

#include <QHelpEvent>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeWidget>

NameTips::NameTips(QTreeWidget* tree, WholeText wholeText)
    : QObject(tree), tree(tree), wholeText(std::move(wholeText))
{
    tree->viewport()->installEventFilter(this);
}

QString NameTips::TipOf(QTreeWidgetItem* row, int column) const
{
    if (!row)
        return QString();
    const QString whole = wholeText(row, column);
    if (whole.isEmpty() || whole == row->text(column))
        return QString();
    // A tip that looks like markup would be drawn as such: a peer's name is shown as written.
    if (Qt::mightBeRichText(whole))
        return "<p style='white-space:pre-wrap'>" + whole.toHtmlEscaped() + "</p>";
    return whole;
}

bool NameTips::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip || watched != tree->viewport())
        return QObject::eventFilter(watched, event);
    auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = TipOf(tree->itemAt(help->pos()), tree->columnAt(help->pos().x()));
    // A cell that shows all of its name keeps whatever tip the view gives it.
    if (tip.isEmpty())
        return QObject::eventFilter(watched, event);
    QToolTip::showText(help->globalPos(), tip, tree->viewport());
    return true;
}
