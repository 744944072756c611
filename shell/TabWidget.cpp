#include "TabWidget.h"

#include <QColor>
#include <QTabBar>

#include "TabFocus.h"

TabWidget::TabWidget(QWidget* parent) : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, &TabWidget::OnTabChanged);
}

void TabWidget::MarkTabActivity(QWidget* ip_widget)
{
    for (const EnclosingTab& enclosing : EnclosingTabs(ip_widget))
    {
        auto* tabs = qobject_cast<TabWidget*>(enclosing.tabs);
        if (tabs && enclosing.index != tabs->currentIndex())
            tabs->tabBar()->setTabTextColor(enclosing.index, Qt::blue);
    }
}

void TabWidget::OnTabChanged(int i_index)
{
    if (i_index == -1)
        return;
    FindWidgetFocusProperty(widget(i_index), 0);
    // An invalid colour gives the tab bar's normal text colour back.
    tabBar()->setTabTextColor(i_index, QColor());
}
