#include "TabFocus.h"

#include <QTabWidget>
#include <QVariant>
#include <QWidget>

#include "FocusWidget.h"

const char* const tabFocusProperty = "get_focus";

std::vector<EnclosingTab> EnclosingTabs(QWidget* widget)
{
    std::vector<EnclosingTab> found;
    if (!widget)
        return found;
    // The widget and its ancestors seen so far, the nearest to the current ancestor last.
    std::vector<QWidget*> chain{widget};
    for (QWidget* ancestor = widget->parentWidget(); ancestor; ancestor = ancestor->parentWidget())
    {
        if (auto* tabs = qobject_cast<QTabWidget*>(ancestor))
        {
            for (auto member = chain.rbegin(); member != chain.rend(); ++member)
            {
                const int index = tabs->indexOf(*member);
                if (index != -1)
                {
                    found.push_back({tabs, index});
                    break;
                }
            }
        }
        chain.push_back(ancestor);
    }
    return found;
}

void RegisterWidgetForTabFocus(QWidget* widget, int priority)
{
    if (!widget)
        return;
    widget->setProperty(tabFocusProperty, priority);
    if (widget->isVisible())
        widget->setFocus(Qt::OtherFocusReason);
}

int FindWidgetFocusProperty(QWidget* widget, int best)
{
    if (!widget || !widget->isVisible())
        return best;
    const QVariant rank = widget->property(tabFocusProperty);
    if (rank.isValid() && rank.toInt() > best)
    {
        widget->setFocus(Qt::OtherFocusReason);
        best = rank.toInt();
    }
    for (QObject* child : widget->children())
        if (child->isWidgetType())
            best = qMax(best, FindWidgetFocusProperty(static_cast<QWidget*>(child), best));
    return best;
}

void FocusWidgetAndParents(QWidget* widget)
{
    FocusWidget(widget);
}

QTabWidget* GetWidgetTabWidget(QWidget* widget, int& index)
{
    const std::vector<EnclosingTab> tabs = EnclosingTabs(widget);
    if (tabs.empty())
        return nullptr;
    index = tabs.front().index;
    return tabs.front().tabs;
}
