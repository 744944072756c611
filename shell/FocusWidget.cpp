#include "FocusWidget.h"

#include <QTabWidget>
#include <QWidget>

void FocusWidget(QWidget* widget)
{
    if (!widget)
        return;
    widget->activateWindow();
    widget->setFocus(Qt::OtherFocusReason);
    for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget())
    {
        auto* tabs = qobject_cast<QTabWidget*>(parent);
        if (!tabs)
            continue;
        for (int index = 0; index < tabs->count(); ++index)
        {
            QWidget* page = tabs->widget(index);
            if (page == widget || page->isAncestorOf(widget))
            {
                tabs->setCurrentIndex(index);
                break;
            }
        }
    }
}
